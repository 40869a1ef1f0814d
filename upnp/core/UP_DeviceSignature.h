// UP_DeviceSignature: the kind of client that sent a request
// (UP_HttpMessageHelper::GetDeviceSignature); the DLNA tables pick MIME types per client
// and DLNA parameters by it.
#pragma once

enum UP_DeviceSignature {
    UP_SIGNATURE_UNKNOWN = 0,
    UP_SIGNATURE_XBOX = 1,
    UP_SIGNATURE_PLAYSTATION3 = 2,
    UP_SIGNATURE_WINDOWS_MEDIA_PLAYER = 3,
    UP_SIGNATURE_SONOS = 4,
    UP_SIGNATURE_MAC = 5,
    UP_SIGNATURE_WINDOWS = 6,
    UP_SIGNATURE_VLC = 7
};
