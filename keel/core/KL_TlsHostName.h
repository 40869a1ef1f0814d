// Host-name matching of certificate names: a pattern "*.domain" covers exactly one label below
// the domain (not the domain itself, not two labels below); any other pattern must equal the
// whole name. Letter case is ignored; a null or empty pattern or name never matches, nor does a
// wildcard without a domain ("*.").
#pragma once

bool KL_TlsMatchHostName(const char* pattern, const char* name);
