#include "KL_HttpFileRequestHandler.h"

#include "KL_Check.h"
#include "KL_File.h"
#include "KL_HttpEntity.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_Uri.h"

#include <cstring>

KL_SET_LOCAL_LOGGER("keel.http.server.file");

namespace {

// A decoded path that could name something outside the root: a NUL that would cut the name
// short, or a ".." segment below the root.
bool LeavesRoot(const KL_String& decoded, const KL_String& relative) {
    if (std::memchr(decoded.GetChars(), 0, decoded.GetLength()) != nullptr) {
        return true;
    }
    for (const KL_String& segment : relative.Split("/")) {
        if (segment == "..") {
            return true;
        }
    }
    return false;
}

// 416; with a known size (and clamp_to_size) "Content-Range: bytes */SIZE" too.
void SetRangeNotSatisfiable(KL_HttpResponse& response, const uint64_t* size = nullptr) {
    (void)response.SetStatus(416, "Requested Range Not Satisfiable");
    if (size != nullptr) {
        (void)response.GetHeaders().SetHeader("Content-Range",
                                              ("bytes */" + KL_String::FromIntegerU(*size)).GetChars());
    }
}

// Completes a range of a stream of known size (a null bound is missing) and makes the part it
// names the body, or answers 416. clamp_to_size: an end past the stream is its last byte.
KL_Result ServeRange(KL_HttpResponse& response, const KL_InputStreamReference& stream, uint64_t size,
                     const uint64_t* first, const uint64_t* last, bool clamp_to_size) {
    uint64_t start = first ? *first : 0;
    uint64_t end = last ? *last : 0;
    if (first == nullptr) {
        if (last != nullptr && end <= size) {
            start = size - end;
            end = size - 1;
        } // a suffix longer than the stream keeps start 0, end N: out of range below
    } else if (last == nullptr || end == size) {
        end = size - 1;
    }
    if (clamp_to_size && end >= size) {
        end = size - 1;
    }
    if (start > end || end >= size || (start > 0 && KL_FAILED(stream->Seek(start)))) {
        SetRangeNotSatisfiable(response, clamp_to_size ? &size : nullptr);
        return KL_SUCCESS;
    }
    KL_HttpEntity* entity = response.GetEntity();
    (void)entity->SetInputStream(stream, false);
    (void)entity->SetContentLength(end - start + 1);
    (void)response.SetStatus(206, "Partial Content");
    (void)response.GetHeaders().SetHeader(
        "Content-Range",
        KL_String::Format("bytes %llu-%llu/%llu", static_cast<unsigned long long>(start),
                          static_cast<unsigned long long>(end), static_cast<unsigned long long>(size))
            .GetChars());
    return KL_SUCCESS;
}

} // namespace

KL_HttpFileRequestHandler::KL_HttpFileRequestHandler(const char* url_root, const char* file_root,
                                                     bool auto_dir, const char* auto_index)
    : m_UrlRoot(url_root), m_FileRoot(file_root), m_DefaultMimeType("text/html"), m_AutoDir(auto_dir),
      m_AutoIndex(auto_index) {}

KL_Result KL_HttpFileRequestHandler::SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext&,
                                                   KL_HttpResponse& response) {
    KL_HttpEntity* entity = response.GetEntity();
    if (entity == nullptr) {
        return KL_ERROR_INVALID_STATE;
    }
    const KL_String& method = request.GetMethod();
    if (!(method == "GET") && !(method == "HEAD")) {
        (void)response.SetStatus(405, "Method Not Allowed");
        return KL_SUCCESS;
    }
    (void)response.GetHeaders().SetHeader("Accept-Ranges", "bytes");
    if (request.GetProtocol() == KL_HTTP_PROTOCOL_1_1) {
        (void)response.SetProtocol(KL_HTTP_PROTOCOL_1_1);
    }
    const KL_String& request_path = request.GetUrl().GetPath();
    const KL_String decoded = KL_Uri::PercentDecode(request_path.GetChars());
    if (!decoded.StartsWith(m_UrlRoot.GetChars())) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    // The root was matched on the decoded path, so it is cut from the decoded path.
    const KL_String relative = decoded.SubString(m_UrlRoot.GetLength());
    if (LeavesRoot(decoded, relative)) {
        return KL_ERROR_PERMISSION_DENIED;
    }
    KL_String file_name = m_FileRoot + "/" + relative;
    KL_FileInfo info;
    if (KL_SUCCEEDED(KL_File::GetInfo(file_name.GetChars(), &info)) &&
        info.m_Type == KL_FileInfo::FILE_TYPE_DIRECTORY) {
        if (!m_AutoDir) {
            return KL_ERROR_PERMISSION_DENIED;
        }
        if (m_AutoIndex.IsEmpty()) {
            return SetupListing(request_path, relative, file_name, response);
        }
        KL_CHECK_FINE(SetupIndex(request_path, file_name, response));
    }
    KL_File file(file_name.GetChars());
    if (KL_FAILED(file.Open(KL_FILE_OPEN_MODE_READ))) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    KL_InputStreamReference stream;
    if (KL_FAILED(file.GetInputStream(stream))) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    KL_CHECK_FINE(SetupResponseBody(response, stream, request.GetHeaders().GetHeaderValue("Range")));
    (void)entity->SetContentType(GetContentType(file_name).GetChars());
    return KL_SUCCESS;
}

// A directory with an index file: a redirect to the index below the requested path, carrying the
// index file as its body; file_name becomes the index file's.
KL_Result KL_HttpFileRequestHandler::SetupIndex(const KL_String& request_path, KL_String& file_name,
                                                KL_HttpResponse& response) {
    file_name = file_name + "/" + m_AutoIndex;
    if (KL_FAILED(KL_File::GetInfo(file_name.GetChars()))) {
        return KL_ERROR_PERMISSION_DENIED;
    }
    KL_String location = request_path;
    while (location.StartsWith("//")) {
        location.Erase(0); // a path, never a host
    }
    if (!location.EndsWith("/")) {
        location += "/";
    }
    location += KL_Uri::PercentEncode(m_AutoIndex.GetChars(), KL_Uri::PathCharsToEncode);
    (void)response.SetStatus(302, "Found");
    (void)response.GetHeaders().SetHeader("Location", location.GetChars());
    return KL_SUCCESS;
}

KL_Result KL_HttpFileRequestHandler::SetupResponseBody(KL_HttpResponse& response,
                                                       const KL_InputStreamReference& stream,
                                                       const char* range, bool clamp_to_size) {
    KL_HttpEntity* entity = response.GetEntity();
    if (entity == nullptr) {
        return KL_ERROR_INVALID_STATE;
    }
    if (range == nullptr) {
        return entity->SetInputStream(stream, !entity->IsChunked());
    }
    KL_LargeSize size = 0;
    const bool size_is_known = KL_SUCCEEDED(stream->GetSize(size));
    // The size that a 416 names: always for several ranges, for the others only when clamping.
    const uint64_t* known_size = size_is_known ? &size : nullptr;
    const uint64_t* size_for_416 = clamp_to_size ? known_size : nullptr;
    const char* accept_ranges = response.GetHeaders().GetHeaderValue("Accept-Ranges");
    if (entity->IsChunked() || (accept_ranges != nullptr && std::strcmp(accept_ranges, "bytes") != 0)) {
        SetRangeNotSatisfiable(response, size_for_416);
        return KL_SUCCESS;
    }
    if (size_is_known && size == 0) {
        return KL_SUCCESS;
    }
    const KL_String value(range);
    if (!value.StartsWith("bytes=")) {
        (void)response.SetStatus(400, "Bad Request");
        return KL_SUCCESS;
    }
    const KL_String set = value.SubString(6);
    if (set.Find(',') >= 0) {
        SetRangeNotSatisfiable(response, known_size);
        return KL_SUCCESS;
    }
    const int dash = set.Find('-');
    if (dash < 0) {
        (void)response.SetStatus(400, "Bad Request");
        return KL_SUCCESS;
    }
    const KL_String start_text = set.Left(static_cast<KL_Size>(dash));
    const KL_String end_text = set.SubString(static_cast<KL_Index>(dash) + 1);
    uint64_t start = 0;
    uint64_t end = 0;
    if (!end_text.IsEmpty()) {
        KL_CHECK_FINE(end_text.ToInteger(end, true));
    }
    if (!start_text.IsEmpty()) {
        KL_CHECK_FINE(start_text.ToInteger(start, true));
    }
    if (!size_is_known) {
        if (!start_text.IsEmpty() && start == 0 && end_text.IsEmpty()) {
            return entity->SetInputStream(stream, !entity->IsChunked());
        }
        SetRangeNotSatisfiable(response);
        return KL_SUCCESS;
    }
    return ServeRange(response, stream, size, start_text.IsEmpty() ? nullptr : &start,
                      end_text.IsEmpty() ? nullptr : &end, clamp_to_size);
}
