// UP_FileMediaServerDelegate: resource URLs and file serving.
#include "KL_Check.h"
#include "KL_FilePath.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_Log.h"
#include "KL_Uri.h"
#include "KL_Url.h"
#include "UP_FileInputStream.h"
#include "UP_FileMediaServerDelegate.h"
#include "UP_HttpServer.h"

KL_SET_LOCAL_LOGGER("upnp.media.file");

KL_Result UP_FileMediaServerDelegate::ProcessFileRequest(KL_HttpRequest& request,
                                                         const KL_HttpRequestContext& context,
                                                         KL_HttpResponse& response) {
    const KL_String& method = request.GetMethod();
    if (method != "GET" && method != "HEAD") {
        response.SetStatus(500, "Internal Server Error");
        return KL_SUCCESS;
    }
    KL_String file_path;
    KL_Result result = ExtractResourcePath(request.GetUrl(), file_path);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result,
                            "(ExtractResourcePath(request.GetUrl(), file_path))");
        response.SetStatus(404, "File Not Found");
        return KL_SUCCESS;
    }
    // Only what a listing publishes is served: no hidden or dot components; ServeFile opens the
    // file beneath the shared folder (no link that leads out, regular files only).
    const KL_String full_path = KL_FilePath::Create(m_FileRoot.GetChars(), file_path.GetChars());
    if (!UP_MediaFolder::IsPublishablePath(file_path.GetChars())) {
        // The server's own 404 page, as for a file that ServeFile cannot serve.
        KL_LOG_WARNING("Refused file request for '%s'", file_path.GetChars());
        return KL_ERROR_NO_SUCH_ITEM;
    }
    return ServeFile(request, context, response, full_path.GetChars());
}

KL_Result UP_FileMediaServerDelegate::ServeFile(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                                KL_HttpResponse& response, const char* file_path) {
    // Opened once, beneath the descriptor of the folder the path names now; served from that
    // descriptor, so that a file swapped for a link meanwhile is never what goes out.
    UP_SharedFolder::Descriptor file;
    UP_MediaFolder::Entry entry;
    KL_InputStreamReference stream;
    KL_Result result = m_Folder.Current()->OpenFile(file_path, file, entry);
    if (KL_SUCCEEDED(result)) {
        result = UP_FileInputStream::Adopt(file.Release(), stream);
    }
    if (KL_SUCCEEDED(result)) {
        result = UP_HttpServer::ServeFile(request, context, response, stream, file_path);
    }
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result,
                            "(UP_HttpServer::ServeFile(request, context, response, file_path))");
    }
    return result;
}

KL_Result UP_FileMediaServerDelegate::ExtractResourcePath(const KL_Url& url, KL_String& file_path) {
    file_path = KL_String();
    const KL_String& path = url.GetPath();
    KL_Size prefix = 0;
    if (path.StartsWith(m_UrlRoot.GetChars())) {
        prefix = m_UrlRoot.GetLength();
    } else {
        const KL_String encoded_root =
            KL_Uri::PercentEncode(m_UrlRoot.GetChars(), KL_Uri::PathCharsToEncode, true);
        if (!path.StartsWith(encoded_root.GetChars())) {
            return KL_FAILURE;
        }
        prefix = encoded_root.GetLength();
    }
    if (m_UrlRoot != "/") {
        ++prefix; // the separator after the root
    }
    if (prefix > path.GetLength()) {
        return KL_FAILURE;
    }
    KL_String rest = path.SubString(prefix, path.GetLength() - prefix);
    if (rest.StartsWith("%/")) {
        KL_LOG_FINE("Received a urldecoded version of our url!");
        file_path = rest.SubString(2, rest.GetLength() - 2);
        return KL_SUCCESS;
    }
    if (rest.StartsWith("%25/")) {
        rest = rest.SubString(4, rest.GetLength() - 4);
    }
    file_path = KL_Uri::PercentDecode(rest.GetChars());
    return KL_SUCCESS;
}

KL_String UP_FileMediaServerDelegate::BuildResourceUri(const KL_HttpUrl& base_url, const char* host,
                                                       const char* file_path) {
    KL_HttpUrl url(base_url);
    (void)url.SetHost(host);
    KL_String path = KL_Uri::PercentDecode(base_url.GetPath().GetChars());
    if (!path.EndsWith("/")) {
        path += "/";
    }
    path += "%/";
    path += file_path;
    (void)url.SetPath(path.GetChars(), false);
    return url.ToStringWithDefaultPort(0);
}
