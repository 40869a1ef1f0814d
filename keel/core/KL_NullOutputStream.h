// KL_NullOutputStream: takes every byte and keeps none.
#pragma once

#include "KL_OutputStream.h"

class KL_NullOutputStream : public KL_OutputStream {
public:
    ~KL_NullOutputStream() override = default;

    [[nodiscard]] KL_Result Write(const void* data, KL_Size bytes_to_write,
                                  KL_Size* bytes_written = nullptr) override;
    [[nodiscard]] KL_Result Seek(KL_Position offset) override;
    [[nodiscard]] KL_Result Tell(KL_Position& offset) override;
};
