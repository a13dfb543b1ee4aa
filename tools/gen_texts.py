#!/usr/bin/env python3
"""Writes common/checkdata/texts.h: every Japanese text of both programs as code-page-932 bytes.

The programs store and compare text as Shift-JIS bytes, but the sources are UTF-8, and
clang has no -fexec-charset, so the texts become hex-escaped literals here. Run this
after editing TEXTS; the unit tests fail when texts.h is out of date.
"""
import pathlib
import sys

# (name, UTF-8 text). \n is one line feed.
TEXTS = [
    # Checker
    ("kTextCheckerLoadFailed", "チェックデータの読み込みに失敗しました.\nVexorin.exeが壊れています."),
    ("kTextError", "エラー"),
    ("kTextFolderMissing", "フォルダ %s が見つかりません.\n"),
    ("kTextFileMissing", "ファイル %s が見つかりません.\n"),
    ("kTextFileBroken", "ファイル %s が壊れています.\n"),
    ("kTextChecking", "%s をチェック中...(%d/%d)"),
    ("kTextCheckedBytes", "%I64d KByte Checked. (%I64d％)"),
    ("kTextCheckComplete", "チェックが完了しました."),
    ("kTextAllIntact", "すべてのファイルは正常です."),
    ("kTextCheckEndTitle", "チェック終了"),
    ("kTextStopQuestion", "中断しても良いですか？"),
    ("kTextStopTitle", "終了確認"),
    ("kTextPathTooLongLine", "%s のパスが長すぎます.\n"),
    ("kTextUnpackShallower", "パスの短いフォルダに解凍し直してください."),
    # vexorin-check's: a listed entry that several names on disk, or several entries, could be.
    ("kTextFolderAmbiguous", "フォルダ %s は別の名前で解凍されたようですが、候補が複数あり、どれか決められません."),
    ("kTextFileAmbiguous", "ファイル %s は別の名前で解凍されたようですが、候補が複数あり、どれか決められません."),
    # Build job
    ("kTextOverwriteQuestion", "%s に上書きしますか？"),
    ("kTextOverwriteTitle", "上書き確認"),
    ("kTextNothingToCheck", "対象フォルダにファイルやフォルダがありません."),
    ("kTextOpenFailed", "%s のオープンに失敗しました."),
    ("kTextReadFailed", "%s の読み込みに失敗しました."),
    ("kTextWriteFailed", "%s の書き込みに失敗しました."),
    ("kTextPathTooLong", "%s のパスが長すぎます."),
    ("kTextBadName", "%s の名前に使えない文字が含まれています."),
    ("kTextProcessing", "%s を処理中..."),
    ("kTextProcessedBytes", "%I64d KByte processed. (%d/%d)"),
    ("kTextBuildComplete", "処理が完了しました."),
    ("kTextBuildSucceeded", "ファイルチェッカーが正常に作成できました."),
    ("kTextStoredInUtf8", "%s の名前はシフトJISで書けないため、UTF-8で記録しました."),
    ("kTextSuccessTitle", "成功"),
    # Settings defaults
    ("kTextDefaultCheckerName", "Vexorin.exe"),
    ("kTextDefaultLine1", "ダウンロードからやり直してください."),
    ("kTextDefaultLine2", "また、フォルダ構造ごと解凍しているか確認してください."),
    # Maker windows
    ("kTextFontName", "ＭＳ Ｐゴシック"),
    ("kTextMainCaption", "ヴェクソリン"),
    ("kTextMainGroup", "[ﾁｪｯｸするﾌｫﾙﾀﾞ]を指定して[ﾌｧｲﾙﾁｪｯｶｰの作成]をｸﾘｯｸしてください"),
    ("kTextTargetLabel", "チェックするフォルダ"),
    ("kTextBrowseButton", "参照..."),
    ("kTextMakeButton", "ファイルチェッカーの作成(&M)"),
    ("kTextCloseButton", "閉じる(&C)"),
    ("kTextAdvButton", "高度な設定..."),
    ("kTextBrowseHint", "チェックするフォルダを一覧から選びます"),
    ("kTextMakeHint", "チェックするフォルダの中にファイルチェッカーを作成します"),
    ("kTextCloseHint", "設定を保存して終了します"),
    ("kTextAdvHint", "基本項目以外の高度な設定を行います"),
    ("kTextUsage1", "【使い方】"),
    ("kTextUsage2", "　[チェックするフォルダ]を指定し、[ファイルチェッカーの作成]をクリックすると、「チェックするフォルダ」の中に、ファイルチェッカー（標準ではVexorin.exe）が作成されます。"),
    ("kTextUsage3", "　"),
    ("kTextUsage4", "　このファイルチェッカーは、ファイルチェッカーのあるフォルダを基準に、そのフォルダ以下のすべてのフォルダとファイルの内容をチェックします。"),
    ("kTextUsage5", "　"),
    ("kTextUsage6", "　配布するときはこのファイルチェッカーごと配布し、ユーザーに実行してもらうことにより、ファイルの破損や不適切なフォルダ構造などをチェックすることができます。"),
    ("kTextBrowseTitle", "チェックするフォルダを選択してください."),
    ("kTextTargetNotFound", "チェックするフォルダ %s は存在しません.\nファイルチェッカーの作成を中止します."),
    ("kTextSettingsReadFailed", "設定ファイル %s を読み込めませんでした."),
    ("kTextSettingsWriteFailed", "設定ファイル %s に書き込めませんでした."),
    ("kTextSettingsNoPlace", "設定ファイルの場所がわかりません."),
    ("kTextAdvCaption", "高度な設定"),
    ("kTextAdvGroup", "作成するファイルチェッカー名や警告メッセージを指定してください"),
    ("kTextNameLabel", "作成するﾌｧｲﾙﾁｪｯｶｰ名 (*.exe)"),
    ("kTextFolderMessageLabel", "フォルダが見つからない場合（フォルダ構造の破損）のエラー・メッセージ"),
    ("kTextNoFileMessageLabel", "ファイルが見つからない場合のエラー・メッセージ"),
    ("kTextBrokenFileMessageLabel", "ファイルが破損している場合のエラー・メッセージ"),
    ("kTextDefaultButton", "標準の設定に戻す(&D)"),
    ("kTextOkButton", "OK(&O)"),
    ("kTextCancelButton", "ｷｬﾝｾﾙ(&C)"),
    ("kTextBadCheckerName", "[作成するﾌｧｲﾙﾁｪｯｶｰ名]に有効でない文字（半角の \\ / : * ? \" < > | ）が\n含まれています."),
    ("kTextCheckerNameRequired", "[作成するﾌｧｲﾙﾁｪｯｶｰ名]は必ず必要です.\nVexorin.exeに設定します."),
    ("kTextProgressCaption", "ファイルチェッカーを作成中..."),
    ("kTextProgressStarting", "ファイルチェッカーを作成しています."),
    ("kTextProgressWait", "しばらくお待ちください."),
    ("kTextWindowFailed", "ウィンドウを作成できませんでした."),
    ("kTextNoCheckerImage", "ファイルチェッカーの本体が見つかりません."),
]


def literal(data: bytes) -> str:
    out = []
    prev_escape = False
    for b in data:
        ch = chr(b)
        if b >= 0x80 or b < 0x20 or ch in '"\\?':
            if b == 0x0A:
                out.append("\\n")
                prev_escape = False
                continue
            out.append("\\x%02x" % b)
            prev_escape = True
        else:
            if prev_escape and ch in "0123456789abcdefABCDEF":
                out.append('" "')
            out.append(ch)
            prev_escape = False
    return '"' + "".join(out) + '"'


def render() -> str:
    lines = [
        "// Every Japanese text of the maker and the checker, as code-page-932 bytes.",
        "// Generated by tools/gen_texts.py from its UTF-8 table; edit that, not this file.",
        "#pragma once",
        "",
    ]
    for name, text in TEXTS:
        shown = text.replace("\n", "\\n")
        lines.append("// %s" % shown)
        lines.append("constexpr char %s[] = %s;" % (name, literal(text.encode("cp932"))))
    return "\n".join(lines) + "\n"


def main() -> int:
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent / "common" / "checkdata" / "texts.h"
    out.write_text(render(), encoding="utf-8", newline="\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
