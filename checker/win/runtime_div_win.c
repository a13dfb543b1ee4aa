/* 64-bit division for the progress figures and number formatting on i686, where the
   compiler calls helper routines for it. libgcc's versions would do, but they bring their
   own unwind tables and cost about a tenth of the checker's size; these few calls per
   timer tick do not need their speed, so a plain shift-and-subtract loop serves. */
typedef unsigned long long u64;
typedef long long s64;

u64 __udivmoddi4(u64 n, u64 d, u64* remainder) {
  u64 q = 0;
  u64 r = 0;
  for (int bit = 63; bit >= 0; --bit) {
    r = (r << 1) | ((n >> bit) & 1);
    if (r >= d) {
      r -= d;
      q |= (u64)1 << bit;
    }
  }
  if (remainder) *remainder = r;
  return q;
}

u64 __udivdi3(u64 n, u64 d) { return __udivmoddi4(n, d, 0); }

u64 __umoddi3(u64 n, u64 d) {
  u64 r;
  __udivmoddi4(n, d, &r);
  return r;
}

/* Signed forms truncate toward zero, like C's own operators: the quotient is negative when
   the signs differ, the remainder takes the dividend's sign. */
static u64 Magnitude(s64 v) { return v < 0 ? 0 - (u64)v : (u64)v; }

s64 __divdi3(s64 n, s64 d) {
  u64 q = __udivmoddi4(Magnitude(n), Magnitude(d), 0);
  return (s64)(((n < 0) != (d < 0)) ? 0 - q : q);
}

s64 __moddi3(s64 n, s64 d) {
  u64 r;
  __udivmoddi4(Magnitude(n), Magnitude(d), &r);
  return (s64)(n < 0 ? 0 - r : r);
}
