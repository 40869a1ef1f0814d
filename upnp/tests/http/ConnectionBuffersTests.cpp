// UP_ConnectionBuffers: a connection's buffers come back empty and reused, request after request.
#include "UP_ConnectionBuffers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ConnectionBuffers, ReusedOnceLetGoAndRenewedWhileHeld) {
    KL_String& text = UP_ConnectionBuffers::Text();
    text += std::string(100000, 'x').c_str();
    const char* storage = text.GetChars();
    EXPECT_EQ(UP_ConnectionBuffers::Text().GetLength(), 0u);
    EXPECT_EQ(UP_ConnectionBuffers::Text().GetChars(), storage); // no new allocation

    KL_MemoryStream* first = nullptr;
    {
        KL_MemoryStreamReference answer = UP_ConnectionBuffers::AnswerStream();
        first = answer.AsPointer();
        ASSERT_EQ(answer->Write("body", 4), KL_SUCCESS);
        KL_MemoryStreamReference held = UP_ConnectionBuffers::AnswerStream(); // the answer still holds it
        EXPECT_NE(held.AsPointer(), first);
    }
    KL_MemoryStreamReference again = UP_ConnectionBuffers::AnswerStream();
    KL_MemoryStreamReference next = UP_ConnectionBuffers::AnswerStream();
    EXPECT_NE(next.AsPointer(), again.AsPointer());
    EXPECT_EQ(again->GetDataSize(), 0u);
}

} // namespace
