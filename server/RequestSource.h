// Telling the local programs the provider serves from web pages shown by a
// browser on this machine, which can reach 127.0.0.1 as well.
#pragma once

// Null when a request with these headers may be served; otherwise the
// reason it may not. A browser names the page's site in "Origin" on every
// cross-site request, and in "Host" the name it looked up, which after DNS
// rebinding is the attacker's. The collector sends neither; other local
// clients send an IP address, "localhost" or this machine's name as Host.
const char* ForeignRequestReason(const char* const* names, const char* const* values);
