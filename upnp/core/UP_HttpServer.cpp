#include "UP_HttpServer.h"

#include "KL_Check.h"
#include "KL_HttpEntity.h"
#include "KL_HttpFileRequestHandler.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_Log.h"
#include "KL_System.h"
#include "UP_FileInputStream.h"
#include "UP_HttpListenTask.h"
#include "UP_HttpMessageHelper.h"
#include "UP_ProtocolInfo.h"
#include "UP_TaskManager.h"

#include <cstring>
#include <sys/stat.h>

KL_SET_LOCAL_LOGGER("upnp.core.http");

namespace {

constexpr int kRandomPortTries = 100;
constexpr uint16_t kRandomPortBase = 1024;
constexpr uint32_t kRandomPortRange = 1024;
// Connections waiting to be accepted: enough that a flood of clients that reconnect at once
// does not crowd out a newcomer while the listen task works through them (the kernel may cap it).
constexpr uint32_t kBacklog = 512;

KL_String FormatDate(const KL_TimeStamp& time) {
    KL_DateTime date;
    (void)date.FromTimeStamp(time);
    return date.ToString(KL_DateTime::FORMAT_RFC_1123);
}

void SetDateHeader(KL_HttpMessage& message) {
    KL_TimeStamp now;
    (void)KL_System::GetCurrentTimeStamp(now);
    message.GetHeaders().SetHeader("Date", FormatDate(now).GetChars());
}

// True when a path component (between "/" or "\") is "..".
bool HasParentComponent(const char* path) {
    const char* start = path;
    for (const char* p = path;; ++p) {
        if (*p == '/' || *p == '\\' || *p == '\0') {
            if (p - start == 2 && start[0] == '.' && start[1] == '.') {
                return true;
            }
            if (*p == '\0') {
                return false;
            }
            start = p + 1;
        }
    }
}

// True when a byte range value cannot be read: "bytes=" then one range "FIRST-LAST", "FIRST-" or
// "-SUFFIX" whose bounds are not plain decimal numbers below 2^64 (or are both missing). A set
// of several ranges and another unit are left to the range reader (416, 400).
bool IsUnreadableByteRange(const char* range) {
    if (range == nullptr || std::strncmp(range, "bytes=", 6) != 0 || std::strchr(range, ',') != nullptr) {
        return false;
    }
    const char* set = range + 6;
    const char* dash = std::strchr(set, '-');
    if (dash == nullptr) {
        return true;
    }
    auto is_bound = [](const char* begin, const char* end) {
        if (end - begin > 20 || std::strspn(begin, "0123456789") < size_t(end - begin)) {
            return false;
        }
        uint64_t value = 0;
        for (const char* p = begin; p < end; ++p) {
            if (value > (UINT64_MAX - uint64_t(*p - '0')) / 10) {
                return false;
            }
            value = value * 10 + uint64_t(*p - '0');
        }
        return true;
    };
    const char* end = set + std::strlen(set);
    const bool has_first = dash > set;
    const bool has_last = end > dash + 1;
    return (!has_first && !has_last) || (has_first && !is_bound(set, dash)) ||
           (has_last && !is_bound(dash + 1, end));
}

} // namespace

UP_HttpServer::UP_HttpServer(const KL_IpAddress& address, uint16_t port,
                             bool allow_random_port_on_bind_failure, KL_Cardinal max_clients,
                             bool reuse_address)
    : KL_HttpServer(80, true),
      // Places for the ending connections beyond the slots, so that a start never waits.
      m_TaskManager(new UP_TaskManager(max_clients > 1 ? max_clients + UP_HttpConnectionSlots::kMaxEnding
                                                       : max_clients)),
      m_Address(address), m_Port(port), m_AllowRandomPortOnBindFailure(allow_random_port_on_bind_failure),
      m_ReuseAddress(reuse_address), m_Slots(max_clients > 1 ? max_clients - 1 : 0) {}

UP_HttpServer::~UP_HttpServer() {
    (void)Stop();
}

KL_Result UP_HttpServer::BindRandomPort() {
    for (int attempt = 0; attempt < kRandomPortTries; ++attempt) {
        uint16_t port = uint16_t(kRandomPortBase + KL_System::GetRandomInteger() % kRandomPortRange);
        if (KL_SUCCEEDED(SetListenPort(port, m_ReuseAddress))) {
            return KL_SUCCESS;
        }
    }
    KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, KL_FAILURE, "((-1))");
    return KL_FAILURE;
}

KL_Result UP_HttpServer::Start() {
    KL_AutoLock lock(m_StateLock);
    if (m_Running || m_Aborted) {
        return KL_ERROR_INVALID_STATE;
    }
    bool bound = false;
    if (m_Port != 0) {
        KL_Result res = SetListenPort(uint16_t(m_Port), m_ReuseAddress);
        if (KL_SUCCEEDED(res)) {
            bound = true;
        } else if (!m_AllowRandomPortOnBindFailure) {
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, res, "(res)");
            return res;
        }
    }
    if (!bound) {
        KL_CHECK(BindRandomPort());
    }
    m_Port = KL_HttpServer::GetPort();
    KL_CHECK_SEVERE(Listen(kBacklog));

    UP_HttpListenTask* task = new UP_HttpListenTask(this, &m_Socket, false, &m_Slots);
    const KL_Result started = m_TaskManager->StartTask(task, nullptr, true);
    if (KL_FAILED(started)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, started, "(m_TaskManager->StartTask(task))");
        return started;
    }

    KL_LOG_INFO("HttpServer listening on %s:%d", m_Address.ToString().GetChars(), int(m_Port));
    m_Running = true;
    return KL_SUCCESS;
}

KL_Result UP_HttpServer::Stop() {
    KL_AutoLock lock(m_StateLock);
    if (m_Aborted || !m_Running) {
        return KL_ERROR_INVALID_STATE;
    }
    (void)m_TaskManager->StopAllTasks();
    m_Running = false;
    m_Aborted = true;
    return KL_SUCCESS;
}

uint16_t UP_HttpServer::GetPort() const {
    return uint16_t(m_Port);
}

KL_Result UP_HttpServer::AddRequestHandler(KL_HttpRequestHandler* handler, const char* path,
                                           bool include_children, bool transfer_ownership) {
    KL_AutoLock lock(m_HandlersLock);
    return KL_HttpServer::AddRequestHandler(handler, path, include_children, transfer_ownership);
}

KL_HttpRequestHandler* UP_HttpServer::FindRequestHandler(KL_HttpRequest& request) {
    KL_AutoLock lock(m_HandlersLock);
    return KL_HttpServer::FindRequestHandler(request);
}

KL_List<KL_HttpRequestHandler*> UP_HttpServer::FindRequestHandlers(KL_HttpRequest& request) {
    KL_AutoLock lock(m_HandlersLock);
    return KL_HttpServer::FindRequestHandlers(request);
}

KL_Result UP_HttpServer::SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                       KL_HttpResponse& response) {
    if (KL_LocalLogger.GetIfLoggable(KL_LOG_LEVEL_FINE) != nullptr) {
        KL_String prefix = KL_String::Format(
            "UP_HttpServer::SetupResponse %s request from %s for \"%s\"", request.GetMethod().GetChars(),
            context.GetRemoteAddress().ToString().GetChars(), request.GetUrl().ToString().GetChars());
        UP_HttpMessageHelper::ToLog(KL_LocalLogger, KL_LOG_LEVEL_FINE, prefix.GetChars(), &request);
    }
    KL_List<KL_HttpRequestHandler*> handlers = FindRequestHandlers(request);
    if (handlers.GetItemCount() == 0) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    KL_Result result = (*handlers.GetFirstItem())->SetupResponse(request, context, response);
    SetDateHeader(response);
    if (request.GetHeaders().GetHeaderValue("Accept-Language") != nullptr) {
        response.GetHeaders().SetHeader("Content-Language", "en");
    }
    return result;
}

KL_Result UP_HttpServer::GetIfModifiedSince(const KL_HttpRequest& request, KL_DateTime& date) {
    const char* value = request.GetHeaders().GetHeaderValue("If-Modified-Since");
    if (value == nullptr) {
        return KL_FAILURE;
    }
    KL_Result result = date.FromString(value, KL_DateTime::FORMAT_RFC_1123);
    if (KL_FAILED(result)) {
        result = date.FromString(value, KL_DateTime::FORMAT_RFC_1036);
    }
    if (KL_FAILED(result)) {
        result = date.FromString(value, KL_DateTime::FORMAT_ANSI);
    }
    return result;
}

KL_Result UP_HttpServer::ServeFile(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                   KL_HttpResponse& response, const char* file_path) {
    if (file_path == nullptr || HasParentComponent(file_path)) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    // Opened so that it can never block (a FIFO put there is refused, not waited for), and then
    // checked through the descriptor, so that what is checked is what is sent.
    KL_InputStreamReference stream;
    if (KL_FAILED(UP_FileInputStream::Open(file_path, stream))) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    return ServeFile(request, context, response, stream, file_path);
}

KL_Result UP_HttpServer::ServeFile(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                   KL_HttpResponse& response, const KL_InputStreamReference& file,
                                   const char* file_name) {
    const auto* opened = dynamic_cast<const UP_FileInputStream*>(file.AsPointer());
    struct stat status {};
    if (opened == nullptr || file_name == nullptr || ::fstat(opened->GetDescriptor(), &status) != 0 ||
        !S_ISREG(status.st_mode)) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    const KL_TimeStamp modified = KL_TimeStamp::FromSeconds(status.st_mtim.tv_sec);
    KL_DateTime since;
    if (request.GetHeaders().GetHeaderValue("Range") == nullptr &&
        KL_SUCCEEDED(GetIfModifiedSince(request, since))) {
        KL_TimeStamp since_time;
        (void)since.ToTimeStamp(since_time);
        KL_LOG_INFO("File %s timestamps: request=%d (%s) vs file=%d (%s)", file_name,
                    int(since_time.ToSeconds()), since.ToString(KL_DateTime::FORMAT_RFC_1123).GetChars(),
                    int(modified.ToSeconds()), FormatDate(modified).GetChars());
        if (since_time >= modified) {
            KL_LOG_FINE("Returning 304 for %s", file_name);
            response.SetStatus(304, "Not Modified", KL_HTTP_PROTOCOL_1_1);
            return KL_SUCCESS;
        }
    }
    if (modified != KL_TimeStamp()) {
        response.GetHeaders().SetHeader("Last-Modified", FormatDate(modified).GetChars());
        response.GetHeaders().SetHeader("Cache-Control", "max-age=0,must-revalidate");
    }
    KL_String content_type =
        UP_ProtocolInfo::GetMimeType(file_name, UP_HttpMessageHelper::GetDeviceSignature(request));
    return ServeStream(request, context, response, file, content_type.GetChars());
}

KL_Result UP_HttpServer::ServeStream(KL_HttpRequest& request, const KL_HttpRequestContext&,
                                     KL_HttpResponse& response, const KL_InputStreamReference& stream,
                                     const char* content_type) {
    if (stream.IsNull()) {
        return KL_FAILURE;
    }
    SetDateHeader(response);
    KL_HttpEntity* entity = response.GetEntity();
    if (entity == nullptr) {
        KL_LOG_FATAL("@@@ NULL pointer parameter");
        return KL_ERROR_INVALID_PARAMETERS;
    }
    entity->SetContentType(content_type);
    const KL_HttpHeaders& headers = request.GetHeaders();
    // A range that ends past the end is served to the last byte; every 416 names the length. A
    // byte range that cannot be read is ignored: the whole body goes out.
    const char* range = headers.GetHeaderValue("Range");
    if (IsUnreadableByteRange(range)) {
        KL_LOG_FINE("unreadable range ignored: %s", range);
        range = nullptr;
    }
    KL_Result result = KL_HttpFileRequestHandler::SetupResponseBody(response, stream, range, true);
    if (KL_FAILED(result)) {
        return result;
    }
    KL_Position position = 0;
    if (!entity->IsChunked() && KL_SUCCEEDED(stream->Tell(position)) &&
        KL_SUCCEEDED(stream->Seek(position))) {
        response.GetHeaders().SetHeader("Accept-Ranges", "bytes", false);
    }
    if (headers.GetHeaderValue("getcontentFeatures.dlna.org") != nullptr) {
        // Also "*": the header then says what the DIDL-Lite resource says.
        KL_String features = UP_ProtocolInfo::GetDlnaExtension(
            content_type, UP_HttpMessageHelper::GetDeviceSignature(request));
        response.GetHeaders().SetHeader("ContentFeatures.DLNA.ORG", features.GetChars(), false);
    }
    const char* transfer_mode = headers.GetHeaderValue("transferMode.dlna.org");
    response.GetHeaders().SetHeader("TransferMode.DLNA.ORG", transfer_mode ? transfer_mode : "Streaming",
                                    false);
    if (headers.GetHeaderValue("TimeSeekRange.dlna.org") != nullptr) {
        response.SetStatus(406, "Not Acceptable");
    }
    return KL_SUCCESS;
}
