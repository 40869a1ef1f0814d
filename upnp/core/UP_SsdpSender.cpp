#include "UP_SsdpSender.h"

#include "KL_Check.h"
#include "KL_DataBuffer.h"
#include "KL_DateTime.h"
#include "KL_HttpRequest.h"
#include "KL_HttpResponse.h"
#include "KL_MemoryStream.h"
#include "KL_System.h"
#include "KL_UdpSocket.h"
#include "UP_HttpMessageHelper.h"

KL_SET_LOCAL_LOGGER("upnp.core.ssdp");

KL_Result UP_SsdpSender::FormatPacket(KL_HttpMessage& message, const char* usn, const char* target,
                                      bool notify) {
    KL_CHECK_POINTER(usn);
    KL_CHECK_POINTER(target);
    KL_HttpHeaders& headers = message.GetHeaders();
    headers.SetHeader("USN", usn);
    if (notify) {
        headers.SetHeader("NT", target);
    } else {
        headers.SetHeader("ST", target);
        KL_TimeStamp now;
        (void)KL_System::GetCurrentTimeStamp(now);
        KL_DateTime date;
        (void)date.FromTimeStamp(now);
        headers.SetHeader("Date", date.ToString(KL_DateTime::FORMAT_RFC_1123).GetChars());
    }
    return KL_SUCCESS;
}

KL_Result UP_SsdpSender::SendSsdp(KL_HttpRequest& request, const char* usn, const char* target,
                                  KL_UdpSocket& socket, bool notify, const KL_SocketAddress* address) {
    KL_CHECK(FormatPacket(request, usn, target, notify));
    if (KL_LocalLogger.GetIfLoggable(KL_LOG_LEVEL_FINER) != nullptr) {
        const KL_String prefix =
            KL_String::Format("Sending SSDP %s packet for %s", request.GetMethod().GetChars(), usn);
        UP_HttpMessageHelper::ToLog(KL_LocalLogger, KL_LOG_LEVEL_FINER, prefix.GetChars(), &request);
    }
    return Send(request, socket, address);
}

KL_Result UP_SsdpSender::SendSsdp(KL_HttpResponse& response, const char* usn, const char* target,
                                  KL_UdpSocket& socket, bool notify, const KL_SocketAddress* address) {
    KL_CHECK(FormatPacket(response, usn, target, notify));
    UP_HttpMessageHelper::ToLog(KL_LocalLogger, KL_LOG_LEVEL_FINER, "Sending SSDP Response:", &response);
    return Send(response, socket, address);
}

KL_Result UP_SsdpSender::Send(const KL_HttpMessage& message, KL_UdpSocket& socket,
                              const KL_SocketAddress* address) {
    KL_MemoryStream text(512);
    KL_CHECK(message.Emit(text));
    KL_DataBuffer packet;
    KL_CHECK(packet.SetData(text.GetData(), text.GetDataSize()));
    KL_Result result = socket.Send(packet, address);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, "(socket.Send(packet, addr))");
    }
    return result;
}
