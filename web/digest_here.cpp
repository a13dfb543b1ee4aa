// The ordinary concurrent digest under another name, for the page's DigestConcurrently
// (common/concurrent_digest_web.cpp) to call where the page runs no digest workers.
#define DigestConcurrently DigestOnThisThread
#include "concurrent_digest.cpp"
