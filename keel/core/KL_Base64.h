// Base64 (RFC 4648) with optional line breaks and the URL-safe alphabet.
#pragma once

#include "KL_DataBuffer.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_Types.h"

class KL_Base64 {
public:
    // Encodes into base64 (replacing its text); CR LF after every max_blocks_per_line groups of
    // 3 bytes (0: no line breaks); url_safe writes "-" and "_" for "+" and "/".
    static KL_Result Encode(const KL_Byte* data, KL_Size size, KL_String& base64,
                            KL_Cardinal max_blocks_per_line = 0, bool url_safe = false);
    // Decodes size characters into data (replacing its bytes). Characters outside the alphabet
    // (CR, LF, spaces) are skipped; a malformed or incomplete group is KL_ERROR_INVALID_FORMAT.
    static KL_Result Decode(const char* base64, KL_Size size, KL_DataBuffer& data, bool url_safe = false);
};
