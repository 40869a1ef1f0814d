// Small free functions: byte order, hex, number parsing, parameter lists, formatted output, FNV.
#pragma once

#include "KL_DataBuffer.h"
#include "KL_Map.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_Types.h"

#include <cstdarg>

// --- byte order (no alignment required) ---------------------------------------------------------
uint64_t KL_BytesToInt64Be(const unsigned char* bytes);
uint32_t KL_BytesToInt32Be(const unsigned char* bytes);
uint32_t KL_BytesToInt24Be(const unsigned char* bytes);
uint16_t KL_BytesToInt16Be(const unsigned char* bytes);
uint64_t KL_BytesToInt64Le(const unsigned char* bytes);
uint32_t KL_BytesToInt32Le(const unsigned char* bytes);
uint32_t KL_BytesToInt24Le(const unsigned char* bytes);
uint16_t KL_BytesToInt16Le(const unsigned char* bytes);
void KL_BytesFromInt64Be(unsigned char* buffer, uint64_t value);
void KL_BytesFromInt32Be(unsigned char* buffer, uint32_t value);
void KL_BytesFromInt24Be(unsigned char* buffer, uint32_t value); // the low three bytes
void KL_BytesFromInt16Be(unsigned char* buffer, uint16_t value);
void KL_BytesFromInt64Le(unsigned char* buffer, uint64_t value);
void KL_BytesFromInt32Le(unsigned char* buffer, uint32_t value);
void KL_BytesFromInt24Le(unsigned char* buffer, uint32_t value);
void KL_BytesFromInt16Le(unsigned char* buffer, uint16_t value);

// --- hexadecimal ----------------------------------------------------------------------------------
char KL_NibbleToHex(unsigned int nibble, bool uppercase = false);
// 0..15, or -1 for a character that is not a hex digit.
int KL_HexToNibble(char hex);
// Two characters, high nibble first (no NUL written).
void KL_ByteToHex(KL_Byte b, char* buffer, bool uppercase = false);
// KL_ERROR_INVALID_SYNTAX when either character is not a hex digit.
KL_Result KL_HexToByte(const char* buffer, KL_Byte& b);
// Odd length: KL_ERROR_INVALID_PARAMETERS; a bad pair: KL_ERROR_INVALID_SYNTAX.
KL_Result KL_HexToBytes(const char* hex, KL_DataBuffer& bytes);
// Two digits per byte with the separator (may be null) between bytes.
KL_String KL_HexString(const unsigned char* data, KL_Size data_size, const char* separator = nullptr,
                       bool uppercase = false);

// --- number parsing -------------------------------------------------------------------------------
// Strict: the whole text is the number. Relaxed: leading spaces and tabs are skipped and the first
// non-digit ends the number. The value is 0 on failure. chars_used (optional) counts leading
// blanks, the sign and the digits. Codes: KL_ERROR_INVALID_PARAMETERS, KL_ERROR_OVERFLOW.
KL_Result KL_ParseInteger64(const char* text, int64_t& value, bool relaxed, KL_Size* chars_used = nullptr);
KL_Result KL_ParseInteger64U(const char* text, uint64_t& value, bool relaxed, KL_Size* chars_used = nullptr);
KL_Result KL_ParseInteger32(const char* text, int32_t& value, bool relaxed, KL_Size* chars_used = nullptr);
KL_Result KL_ParseInteger32U(const char* text, uint32_t& value, bool relaxed, KL_Size* chars_used = nullptr);
// The 64-bit parsers under their plain names.
KL_Result KL_ParseInteger(const char* text, int64_t& value, bool relaxed, KL_Size* chars_used = nullptr);
KL_Result KL_ParseIntegerU(const char* text, uint64_t& value, bool relaxed, KL_Size* chars_used = nullptr);
KL_Result KL_ParseFloat(const char* text, float& value, bool relaxed);

// --- parameter lists: name=value pairs separated by ";", values optionally "quoted" with
// backslash escapes. Pairs go into the map (an existing name's value is replaced).
KL_Result KL_ParseParameterList(const char* text, KL_Map<KL_String, KL_String>& parameters);

// --- formatted output: formats (at most 1023 characters) and calls function(context, text).
using KL_FormatOutputFunction = void (*)(void* context, const char* text);
void KL_FormatOutput(KL_FormatOutputFunction function, void* context, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));

// --- FNV-1a -------------------------------------------------------------------------------------
constexpr uint32_t KL_FNV1A_32_INIT = 0x811C9DC5u;
constexpr uint64_t KL_FNV1A_64_INIT = 0xCBF29CE484222325ull;
// Byte forms: each byte unsigned (standard FNV-1a).
uint32_t KL_Fnv1aHash32(const KL_Byte* data, KL_Size size, uint32_t basis = KL_FNV1A_32_INIT);
uint64_t KL_Fnv1aHash64(const KL_Byte* data, KL_Size size, uint64_t basis = KL_FNV1A_64_INIT);
// Text forms (NUL-terminated): each character taken as a signed 8-bit value, widened.
uint32_t KL_Fnv1aHashStr32(const char* text, uint32_t basis = KL_FNV1A_32_INIT);
uint64_t KL_Fnv1aHashStr64(const char* text, uint64_t basis = KL_FNV1A_64_INIT);
