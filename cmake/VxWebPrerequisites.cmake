# What the web page's build and its tests need, and what happens when something is missing:
# elsewhere it is said and left out, but under CI (CI=true) the configure fails and names it,
# so that a test that cannot run fails the run rather than vanish from it.
include_guard(GLOBAL)

set(VX_CHROMIUM /usr/bin/chromium CACHE FILEPATH "The Chromium that web.page drives")
set(VX_FIREFOX /usr/bin/firefox-esr CACHE FILEPATH "The Firefox that web.firefox drives")
set(VX_WEBKIT_DRIVER /usr/bin/WebKitWebDriver CACHE FILEPATH "The WebKitWebDriver that web.webkit drives")

function(vx_web_missing what)
  if("$ENV{CI}" STREQUAL "true")
    message(FATAL_ERROR "${what}; under CI=true every web test must run (tools/install-deps.sh)")
  else()
    message(STATUS "${what} (tools/install-deps.sh)")
  endif()
endfunction()
