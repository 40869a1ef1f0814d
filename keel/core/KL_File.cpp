// KL_File: the file object and the whole-file operations built on its streams. The file-system
// calls and the delegate live with the platform (keel/system/posix/KL_PosixFile.cpp).
#include "KL_File.h"

#include "KL_Check.h"

#include <cstring>

KL_SET_LOCAL_LOGGER("keel.file");

bool KL_File::IsSpecialPath(const char* path) {
    return path != nullptr && (std::strcmp(path, KL_FILE_STANDARD_INPUT) == 0 ||
                               std::strcmp(path, KL_FILE_STANDARD_OUTPUT) == 0 ||
                               std::strcmp(path, KL_FILE_STANDARD_ERROR) == 0);
}

KL_File::KL_File(const char* path) : m_Path(path), m_IsSpecial(IsSpecialPath(path)) {
    m_Delegate = NewDelegate(*this);
}

KL_File::KL_File(const KL_File& file) : m_Path(file.m_Path), m_IsSpecial(file.m_IsSpecial) {
    m_Delegate = NewDelegate(*this);
}

KL_File& KL_File::operator=(const KL_File& file) {
    if (this != &file) {
        m_Path = file.m_Path;
        m_IsSpecial = file.m_IsSpecial;
        m_Delegate = NewDelegate(*this);
    }
    return *this;
}

KL_File::~KL_File() = default;

KL_Result KL_File::Open(KL_FileOpenMode mode) {
    return m_Delegate->Open(mode);
}

KL_Result KL_File::Close() {
    return m_Delegate->Close();
}

KL_Result KL_File::GetInputStream(KL_InputStreamReference& stream) {
    return m_Delegate->GetInputStream(stream);
}

KL_Result KL_File::GetOutputStream(KL_OutputStreamReference& stream) {
    return m_Delegate->GetOutputStream(stream);
}

KL_Result KL_File::GetInfo(KL_FileInfo& info) {
    if (m_IsSpecial) {
        info = KL_FileInfo();
        info.m_Type = KL_FileInfo::FILE_TYPE_SPECIAL;
        return KL_SUCCESS;
    }
    return GetInfo(m_Path.GetChars(), &info);
}

KL_Result KL_File::GetSize(KL_LargeSize& size) {
    size = 0;
    if (m_IsSpecial) {
        return KL_SUCCESS;
    }
    KL_FileInfo info;
    if (KL_FAILED(GetInfo(m_Path.GetChars(), &info))) {
        return KL_SUCCESS;
    }
    if (info.m_Type == KL_FileInfo::FILE_TYPE_DIRECTORY) {
        KL_List<KL_String> entries;
        KL_CHECK_WARNING(ListDir(entries));
        size = entries.GetItemCount();
        return KL_SUCCESS;
    }
    size = info.m_Size;
    return KL_SUCCESS;
}

KL_Result KL_File::GetSize(const char* path, KL_LargeSize& size) {
    KL_File file(path);
    return file.GetSize(size);
}

KL_Result KL_File::ListDir(KL_List<KL_String>& entries) {
    return ListDir(m_Path.GetChars(), entries, 0, 0);
}

KL_Result KL_File::Rename(const char* path) {
    KL_CHECK_POINTER(path);
    KL_Result result = Rename(m_Path.GetChars(), path);
    if (KL_SUCCEEDED(result)) {
        m_Path = path;
        m_IsSpecial = IsSpecialPath(path);
    }
    return result;
}

KL_Result KL_File::Load(const char* path, KL_DataBuffer& buffer, KL_FileOpenMode mode) {
    KL_CHECK(buffer.SetDataSize(0));
    KL_File file(path);
    KL_CHECK_FINE(file.Open(mode));
    KL_InputStreamReference input;
    KL_Result result = file.GetInputStream(input);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, "(GetInputStream(input))");
        file.Close();
        return result;
    }
    result = input->ReadAll(buffer);
    input.Release();
    file.Close();
    return result;
}

KL_Result KL_File::Load(const char* path, KL_String& data, KL_FileOpenMode mode) {
    data.SetLength(0);
    KL_DataBuffer buffer;
    KL_CHECK_FINE(Load(path, buffer, mode));
    KL_Size size = buffer.GetDataSize();
    if (size == 0) {
        return KL_SUCCESS;
    }
    // The length is the file's size, NUL bytes and all.
    KL_CHECK(data.SetLength(size));
    std::memcpy(data.UseChars(), buffer.GetData(), size);
    return KL_SUCCESS;
}

namespace {
KL_Result SaveBytes(const char* path, const void* data, KL_Size size) {
    KL_File file(path);
    KL_CHECK_FINE(file.Open(KL_FILE_OPEN_MODE_WRITE | KL_FILE_OPEN_MODE_CREATE | KL_FILE_OPEN_MODE_TRUNCATE));
    KL_OutputStreamReference output;
    KL_Result result = file.GetOutputStream(output);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, "(GetOutputStream(output))");
        file.Close();
        return result;
    }
    // A full disk shows only at the flush or the close: each result counts.
    result = output->WriteFully(data, size);
    KL_Result flush_result = output->Flush();
    if (KL_SUCCEEDED(result)) {
        result = flush_result;
    }
    output.Release();
    KL_Result close_result = file.Close();
    if (KL_SUCCEEDED(result)) {
        result = close_result;
    }
    return result;
}
} // namespace

KL_Result KL_File::Save(const char* path, const KL_DataBuffer& buffer) {
    return SaveBytes(path, buffer.GetData(), buffer.GetDataSize());
}

KL_Result KL_File::Save(const char* path, const KL_String& data) {
    return SaveBytes(path, data.GetChars(), data.GetLength());
}
