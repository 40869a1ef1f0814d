#include "UP_ConnectionBuffers.h"

namespace {
thread_local KL_String t_Text;
thread_local KL_MemoryStreamReference t_AnswerStream;
} // namespace

KL_String& UP_ConnectionBuffers::Text() {
    if (t_Text.GetCapacity() > kKeptCapacity) {
        t_Text = KL_String();
    }
    t_Text.Erase(0, t_Text.GetLength()); // keeps the storage (SetLength(0) would free it)
    return t_Text;
}

KL_MemoryStreamReference UP_ConnectionBuffers::AnswerStream() {
    if (t_AnswerStream.IsNull() || t_AnswerStream.GetCounter() != 1 ||
        t_AnswerStream->GetDataSize() > kKeptCapacity || KL_FAILED(t_AnswerStream->SetDataSize(0))) {
        t_AnswerStream = KL_MemoryStreamReference(new KL_MemoryStream());
    }
    return t_AnswerStream;
}
