#include "KL_LogFileHandler.h"

#include "KL_DateTime.h"
#include "KL_File.h"
#include "KL_FilePath.h"
#include "KL_LogFormat.h"
#include "KL_System.h"

namespace {

// Names tried after the plain rotated name is taken: "-1" .. "-N" before the extension.
constexpr int kMaxRotatedNameSuffix = 10000;

bool PathExists(const char* path) {
    return KL_SUCCEEDED(KL_File::GetInfo(path));
}

} // namespace

KL_LogFileHandler::KL_LogFileHandler(const char* filename, bool append, bool flush, uint32_t filter,
                                     uint64_t recycle_size)
    : m_FileName(filename), m_Append(append), m_Flush(flush), m_Filter(filter),
      m_RecycleSize(recycle_size == 0 || recycle_size >= MIN_RECYCLE_SIZE ? recycle_size : MIN_RECYCLE_SIZE) {
}

KL_LogFileHandler::~KL_LogFileHandler() {
    if (!m_Stream.IsNull()) {
        (void)m_Stream->Flush();
    }
}

KL_Result KL_LogFileHandler::Open() {
    KL_File file(m_FileName.GetChars());
    const KL_FileOpenMode mode = KL_FILE_OPEN_MODE_READ | KL_FILE_OPEN_MODE_WRITE | KL_FILE_OPEN_MODE_CREATE |
                                 (m_Append ? KL_FILE_OPEN_MODE_APPEND : KL_FILE_OPEN_MODE_TRUNCATE);
    KL_Result result = file.Open(mode);
    if (KL_FAILED(result)) {
        return result;
    }
    KL_OutputStreamReference stream;
    result = file.GetOutputStream(stream);
    if (KL_FAILED(result)) {
        return result;
    }
    KL_LargeSize size = 0;
    if (m_Append && KL_SUCCEEDED(file.GetSize(size))) {
        (void)stream->Seek(size);
    }
    m_FileSize = m_Append ? size : 0;
    m_Stream = stream;
    return KL_SUCCESS;
}

KL_String KL_LogFileHandler::MakeRotatedName() const {
    KL_TimeStamp now;
    (void)KL_System::GetCurrentTimeStamp(now);
    KL_String date = KL_DateTime(now, true).ToString(KL_DateTime::FORMAT_W3C, 0);
    date.Replace(':', '_');
    const KL_String directory = KL_FilePath::DirName(m_FileName.GetChars());
    const KL_String base = KL_FilePath::BaseName(m_FileName.GetChars(), false) + "-" + date;
    const KL_String extension = KL_FilePath::FileExtension(m_FileName.GetChars());
    KL_String path = KL_FilePath::Create(directory.GetChars(), (base + extension).GetChars());
    for (int n = 1; n <= kMaxRotatedNameSuffix && PathExists(path.GetChars()); ++n) {
        const KL_String numbered = base + "-" + KL_String::FromInteger(n) + extension;
        path = KL_FilePath::Create(directory.GetChars(), numbered.GetChars());
    }
    return path;
}

void KL_LogFileHandler::Rotate() {
    (void)m_Stream->Flush();
    m_Stream.Release();
    m_FileSize = 0;
    const KL_String rotated = MakeRotatedName();
    // When the name cannot be had or the move fails, the file goes on growing under its own name.
    if (!PathExists(rotated.GetChars())) {
        (void)KL_File::Rename(m_FileName.GetChars(), rotated.GetChars());
    }
}

void KL_LogFileHandler::Log(const KL_LogRecord& record) {
    if (m_RecycleSize != 0 && !m_Stream.IsNull() && m_FileSize > m_RecycleSize) {
        Rotate();
    }
    if (m_Stream.IsNull() && KL_FAILED(Open())) {
        return;
    }
    KL_String line;
    KL_LogFormatLine(record, m_Filter, false, line);
    if (KL_FAILED(m_Stream->WriteFully(line.GetChars(), line.GetLength()))) {
        return;
    }
    m_FileSize += line.GetLength();
    if (m_Flush) {
        (void)m_Stream->Flush();
    }
}
