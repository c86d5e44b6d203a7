// CBinaryStreamer: the data file frame (header, digest, scrambling) and the typed operations.
#include "common/binstreamer.h"

#include <cstdarg>
#include <cstring>
#include <new>

#include "common/asexception.h"
#include "common/ashooks_access.h"
#include "common/md5.h"
#include "common/trace.h"

namespace ascommon {

using namespace binformat;

namespace {

// A block from the hook table, freed on every path. Zero bytes need no block and are always had.
class HookBuffer {
  public:
    HookBuffer() = default;
    ~HookBuffer() {
        if (m_data != nullptr) MemFree(m_data);
    }
    HookBuffer(const HookBuffer&) = delete;
    HookBuffer& operator=(const HookBuffer&) = delete;

    bool Allocate(uint64_t size) {
        if (size > SIZE_MAX) return false;
        if (size != 0) {
            m_data = static_cast<uint8_t*>(MemAlloc(static_cast<size_t>(size)));
            if (m_data == nullptr) return false;
        }
        m_size = static_cast<size_t>(size);
        return true;
    }
    uint8_t* data() { return m_data; }
    size_t size() const { return m_size; }

  private:
    uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

const char* Text(const sstring& text) {
    return text.initialised() ? text.c_str() : "";
}

void Store16(uint16_t value, uint8_t* out) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

void Store32(uint32_t value, uint8_t* out) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint16_t Load16(const uint8_t* in) {
    return static_cast<uint16_t>(in[0] | (in[1] << 8));
}

uint32_t Load32(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
           (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
}

// A CASFile in a block from the hook table.
CASFile* NewFile(const char* path, const char* mode) {
    void* block = MemAlloc(sizeof(CASFile));
    if (block == nullptr) AS_THROW(ASMemException, "Cannot allocate a file object for [%s]", path);
    try {
        return new (block) CASFile(path, mode);
    } catch (...) {
        MemFree(block);
        throw;
    }
}

// The payload of a file whose header has just been read from `file` (at `path`): everything up
// to its end, read whole. `name` is the data file that the messages show.
void ReadPayload(CASFile& file, const char* path, const char* name, HookBuffer& payload) {
    uint64_t size = 0;
    if (!GetFileSize(path, &size) || size < kHeaderSize) {
        AS_THROW(ASException, "Unable to read from file [%s]", name);
    }
    size -= kHeaderSize;
    if (!payload.Allocate(size)) {
        AS_THROW(ASException,
                 "Cannot allocate enough memory for the entire file [%s], size needed: %d", name,
                 static_cast<int>(size));
    }
    if (size != 0 && file.read(payload.data(), payload.size(), 1) != 1) {
        AS_THROW(ASException, "Unable to read from file [%s]", name);
    }
}

void Digest(HookBuffer& payload, uint8_t* digest) {
    static const unsigned char kNothing = 0;
    ComputeCRC(payload.size() != 0 ? payload.data() : &kNothing, payload.size(), digest);
}

}  // namespace

void ComputeCRC(const unsigned char* buffer, size_t length, unsigned char* digest) {
    if (buffer == nullptr || digest == nullptr) {
        AS_THROW(ASBadPtrException, "Invalid parameters in ComputeCRC");
    }
    Md5(buffer, length, digest);
}

namespace detail {

void ScrambleFile(const char* source, const char* target, uint64_t sizeLimit) {
    uint64_t size = 0;
    if (!GetFileSize(source, &size)) {
        AS_THROW_CODE(ASFileException, -700, "Could not access file [%s]", source);
    }
    if (size > sizeLimit) {
        char shown[64];
        std::snprintf(shown, sizeof shown, "%llu bytes", static_cast<unsigned long long>(size));
        AS_THROW_CODE(ASFileException, -700, "file [%s]ize exceeds 50 MB. It is to large [%s]",
                      source, shown);
    }
    HookBuffer buffer;
    if (!buffer.Allocate(size)) {
        AS_THROW_CODE(ASFileException, -700, "Not enough memory to read the entire file [%s]",
                      source);
    }
    {
        CASFile in(source, "rb");
        if (size != 0 && in.read(buffer.data(), 1, buffer.size()) != buffer.size()) {
            AS_THROW_CODE(ASFileException, -700, "Could not read entire file [%s]", source);
        }
    }
    for (size_t i = 0; i < buffer.size(); ++i) buffer.data()[i] ^= kScrambleMask;
    CASFile out(target, "wb");
    if (size != 0 && out.write(buffer.data(), 1, buffer.size()) != buffer.size()) {
        AS_THROW(ASException, "Could not write to file [%s]", target);
    }
}

}  // namespace detail

CBinaryStreamer::CBinaryStreamer(const sstring& fileName, uint32_t mode, sstring tempFolder,
                                 uint32_t headerValue)
    : m_mode(mode),
      m_fileName(fileName),
      m_tempFolder(tempFolder),
      m_file(nullptr),
      m_valueA(0),
      m_valueB(0),
      m_headerValue(headerValue),
      m_open(false) {
    std::memset(m_digest, 0, sizeof m_digest);
    std::memset(m_description, 0, sizeof m_description);
    // A string copy that could not get its buffer is left uninitialised with error -2.
    if (m_fileName.last_error() != 0 || m_tempFolder.last_error() != 0 ||
        tempFolder.last_error() != 0) {
        AS_THROW(ASMemException, "Cannot copy the names of file [%s]", Text(fileName));
    }

    const char* folder = m_tempFolder.initialised() ? m_tempFolder.c_str() : ".";
    char name[kTempNameCapacity + 1] = {};
    size_t length = kTempNameCapacity;
    if (MakeTempFileName(folder, kTempPrefix, name, &length) == 0) {
        AS_THROW(ASFileException, "Could not create a temp filename in folder \"%s\"", folder);
    }
    if (m_tempFileName.assign(name, length) != 0) {
        RemoveFile(name);
        AS_THROW(ASMemException, "Cannot keep the temp file name [%s]", name);
    }
    AS_TRACE(4, "Bin Streamer temp file: %s", m_tempFileName.c_str());

    if (m_mode == kModeWrite) {
        OpenForWrite();
    } else {
        OpenForRead();
    }
}

CBinaryStreamer::~CBinaryStreamer() {
    AS_TRACE(4, "Closing file [%s]", Text(m_fileName));
    try {
        Close();
    } catch (const AException& e) {
        AS_TRACE(1, "Internal exception thrown when closing file [%s] with message: %s",
                 Text(m_fileName), e.what());
    } catch (...) {
        AS_TRACE(1, "Unknown exception thrown when closing file [%s]", Text(m_fileName));
    }
    ReleaseFile();
}

void CBinaryStreamer::OpenForRead() {
    AS_TRACE(4, "Opening file [%s] for read", Text(m_fileName));
    try {
        detail::ScrambleFile(Text(m_fileName), m_tempFileName.c_str());
        CheckDigest();
        m_file = NewFile(m_tempFileName.c_str(), "rb");
        std::fseek(m_file->getFile(), 0, SEEK_SET);
        uint8_t skipped[kDescriptionSize];
        ReadBuffer(skipped, kDigestSize);
        ReadBuffer(skipped, kDescriptionSize);
        for (int i = 0; i < 3; ++i) ReadUInt32();
        m_open = true;
    } catch (const AException& e) {
        AS_TRACE(4, "Exception [%s], removing streamer temp file...", e.what());
        ReleaseFile();
        RemoveTempFile();
        throw;
    } catch (...) {
        AS_TRACE(4, "Evil non-std exception, removing streamer temp file...");
        ReleaseFile();
        RemoveTempFile();
        throw;
    }
}

void CBinaryStreamer::OpenForWrite() {
    AS_TRACE(4, "Opening file [%s] for write", Text(m_fileName));
    RemoveTempFile();
    m_file = NewFile(Text(m_fileName), "wb");
    std::memset(m_digest, 0, sizeof m_digest);
    m_valueA = 0;
    m_valueB = 0;
    std::memset(m_description, 0, sizeof m_description);
    std::memcpy(m_description, kDescription, sizeof kDescription);
    try {
        WriteHeader(*m_file);
    } catch (...) {
        ReleaseFile();
        throw;
    }
    m_open = true;
}

void CBinaryStreamer::CheckDigest() {
    CASFile file(m_tempFileName.c_str(), "rb");
    ReadHeader(file);
    HookBuffer payload;
    ReadPayload(file, m_tempFileName.c_str(), Text(m_fileName), payload);
    uint8_t digest[kDigestSize];
    Digest(payload, digest);
    for (size_t i = 0; i < kDigestSize; ++i) {
        if (digest[i] != m_digest[i]) {
            AS_THROW(ASException, "File CRC does not match with its stored CRC! [%s] position %d",
                     Text(m_fileName), static_cast<int>(i));
        }
    }
}

void CBinaryStreamer::FinishDigest() {
    char description[kDescriptionSize];
    std::memcpy(description, m_description, sizeof description);
    const uint32_t valueA = m_valueA;
    const uint32_t valueB = m_valueB;
    const uint32_t headerValue = m_headerValue;

    HookBuffer payload;
    {
        CASFile in(Text(m_fileName), "rb");
        ReadHeader(in);
        ReadPayload(in, Text(m_fileName), Text(m_fileName), payload);
    }
    Digest(payload, m_digest);
    std::memcpy(m_description, description, sizeof m_description);
    m_description[kDescriptionSize - 1] = '\0';
    m_valueA = valueA;
    m_valueB = valueB;
    m_headerValue = headerValue;

    CASFile out(Text(m_fileName), "wb");
    WriteHeader(out);
    if (payload.size() != 0 && out.write(payload.data(), 1, payload.size()) != payload.size()) {
        AS_THROW(ASException, "Could not write the entire file during crc [%s]", Text(m_fileName));
    }
}

void CBinaryStreamer::ReadHeader(CASFile& file) {
    uint8_t value[4];
    if (file.read(m_digest, kDigestSize, 1) != 1 ||
        file.read(m_description, kDescriptionSize, 1) != 1) {
        AS_THROW(ASException, "Could not read header component from file");
    }
    uint32_t* fields[] = {&m_valueA, &m_valueB, &m_headerValue};
    for (uint32_t* field : fields) {
        if (file.read(value, sizeof value, 1) != 1) {
            AS_THROW(ASException, "Could not read header component from file");
        }
        *field = Load32(value);
    }
}

void CBinaryStreamer::WriteHeader(CASFile& file) {
    if (file.write(m_digest, kDigestSize, 1) != 1 ||
        file.write(m_description, kDescriptionSize, 1) != 1) {
        AS_THROW(ASException, "Could not write header component from file");
    }
    const uint32_t fields[] = {m_valueA, m_valueB, m_headerValue};
    for (uint32_t field : fields) {
        uint8_t value[4];
        Store32(field, value);
        if (file.write(value, sizeof value, 1) != 1) {
            AS_THROW(ASException, "Could not write header component from file");
        }
    }
}

void CBinaryStreamer::Close() {
    if (!m_open) return;
    // Whatever happens below, the streamer ends closed: a failed close is not tried again.
    struct Closed {
        CBinaryStreamer* streamer;
        ~Closed() {
            streamer->ReleaseFile();
            streamer->m_open = false;
        }
    } closed{this};
    m_file->close();
    if (m_mode == kModeWrite) {
        FinishDigest();
        detail::ScrambleFile(Text(m_fileName), Text(m_fileName));
    } else {
        ReleaseFile();
        RemoveTempFile();
    }
}

void CBinaryStreamer::ReleaseFile() {
    if (m_file == nullptr) return;
    m_file->~CASFile();
    MemFree(m_file);
    m_file = nullptr;
}

void CBinaryStreamer::RemoveTempFile() {
    if (m_tempFileName.initialised() && FileExists(m_tempFileName.c_str())) {
        RemoveFile(m_tempFileName.c_str());
    }
}

uint64_t CBinaryStreamer::Remaining() const {
    if (m_mode == kModeWrite || !HasFile()) return 0;
    const long position = std::ftell(m_file->getFile());
    uint64_t size = 0;
    if (position < 0 || !GetFileSize(m_tempFileName.c_str(), &size)) return 0;
    return size > static_cast<uint64_t>(position) ? size - static_cast<uint64_t>(position) : 0;
}

bool CBinaryStreamer::HasFile() const {
    return m_file != nullptr && m_file->getFile() != nullptr;
}

void CBinaryStreamer::RequireWriteMode() const {
    if (m_mode != kModeWrite) AS_THROW(ASException, "wrong stream mode: read-only");
}

void CBinaryStreamer::RequireReadMode() const {
    if (m_mode == kModeWrite) AS_THROW(ASException, "wrong stream mode: write-only");
}

void CBinaryStreamer::RequireFile() const {
    if (!HasFile()) AS_THROW(ASException, "invalid reference to file");
}

// ---- Writing ----------------------------------------------------------------------------------

void CBinaryStreamer::WriteValue(const uint8_t* bytes, size_t size) {
    if (!HasFile()) AS_THROW(ASException, " invalid reference to file");
    if (m_file->write(bytes, size, 1) != 1) AS_THROW(ASException, " Cannot write to file");
}

size_t CBinaryStreamer::WriteUInt16(uint16_t value) {
    uint8_t bytes[2];
    Store16(value, bytes);
    WriteValue(bytes, sizeof bytes);
    return 1;
}

size_t CBinaryStreamer::WriteInt16(int16_t value) {
    return WriteUInt16(static_cast<uint16_t>(value));
}

size_t CBinaryStreamer::WriteUInt32(uint32_t value) {
    uint8_t bytes[4];
    Store32(value, bytes);
    WriteValue(bytes, sizeof bytes);
    return 1;
}

size_t CBinaryStreamer::WriteInt32(int32_t value) {
    return WriteUInt32(static_cast<uint32_t>(value));
}

size_t CBinaryStreamer::WriteByte(uint8_t value) {
    RequireWriteMode();
    RequireFile();
    if (m_file->write(&value, 1, 1) != 1) AS_THROW(ASException, "Cannot write to file");
    return 1;
}

size_t CBinaryStreamer::WriteBuffer(const void* buffer, size_t length) {
    RequireWriteMode();
    RequireFile();
    if (buffer == nullptr) AS_THROW(ASException, "invalid argument string");
    if (length != 0 && m_file->write(buffer, length, 1) != 1) {
        AS_THROW(ASException, "Cannot write to file");
    }
    return length;
}

// The array writes: the checks of the typed operations, then one single-value write per element.
#define AS_WRITE_ARRAY(Name, Type, Single)                                       \
    size_t CBinaryStreamer::Name(const Type* values, size_t count) {             \
        RequireWriteMode();                                                      \
        RequireFile();                                                           \
        if (values == nullptr) AS_THROW(ASException, "invalid argument string"); \
        for (size_t i = 0; i < count; ++i) Single(values[i]);                    \
        return count * sizeof(Type);                                             \
    }

AS_WRITE_ARRAY(WriteUInt16Array, uint16_t, WriteUInt16)
AS_WRITE_ARRAY(WriteInt16Array, int16_t, WriteInt16)
AS_WRITE_ARRAY(WriteUInt32Array, uint32_t, WriteUInt32)
AS_WRITE_ARRAY(WriteInt32Array, int32_t, WriteInt32)

#undef AS_WRITE_ARRAY

size_t CBinaryStreamer::WriteString(const sstring& text) {
    return WriteBuffer(text.c_str(), text.length());
}

int CBinaryStreamer::Printf(const char* format, ...) {
    RequireWriteMode();
    RequireFile();
    if (format == nullptr) AS_THROW(ASException, "invalid format string");
    va_list args;
    va_start(args, format);
    const int written = std::vfprintf(m_file->getFile(), format, args);
    va_end(args);
    return written;
}

// ---- Reading ----------------------------------------------------------------------------------

void CBinaryStreamer::ReadValue(uint8_t* bytes, size_t size) {
    RequireReadMode();
    RequireFile();
    if (m_file->read(bytes, size, 1) != 1) AS_THROW(ASException, "cannot read from file");
}

uint16_t CBinaryStreamer::ReadUInt16() {
    uint8_t bytes[2];
    ReadValue(bytes, sizeof bytes);
    return Load16(bytes);
}

int16_t CBinaryStreamer::ReadInt16() {
    return static_cast<int16_t>(ReadUInt16());
}

uint32_t CBinaryStreamer::ReadUInt32() {
    uint8_t bytes[4];
    ReadValue(bytes, sizeof bytes);
    return Load32(bytes);
}

int32_t CBinaryStreamer::ReadInt32() {
    return static_cast<int32_t>(ReadUInt32());
}

uint8_t CBinaryStreamer::ReadByte() {
    uint8_t value = 0;
    ReadValue(&value, 1);
    return value;
}

size_t CBinaryStreamer::ReadBuffer(void* buffer, size_t length) {
    RequireReadMode();
    RequireFile();
    if (buffer == nullptr) AS_THROW(ASException, "invalid argument string");
    if (length != 0 && m_file->read(buffer, length, 1) != 1) {
        AS_THROW(ASException, "cannot read from file");
    }
    return length;
}

#define AS_READ_ARRAY(Name, Type, Single)                                        \
    size_t CBinaryStreamer::Name(Type* values, size_t count) {                   \
        RequireReadMode();                                                       \
        RequireFile();                                                           \
        if (values == nullptr) AS_THROW(ASException, "invalid argument string"); \
        for (size_t i = 0; i < count; ++i) values[i] = Single();                 \
        return count;                                                            \
    }

AS_READ_ARRAY(ReadUInt16Array, uint16_t, ReadUInt16)
AS_READ_ARRAY(ReadInt16Array, int16_t, ReadInt16)
AS_READ_ARRAY(ReadUInt32Array, uint32_t, ReadUInt32)
AS_READ_ARRAY(ReadInt32Array, int32_t, ReadInt32)

#undef AS_READ_ARRAY

size_t CBinaryStreamer::ReadString(sstring& text, size_t length) {
    RequireReadMode();
    RequireFile();
    HookBuffer bytes;
    if (length == SIZE_MAX || !bytes.Allocate(length + 1)) {
        AS_THROW(ASException, "could not allocate temporary buffer");
    }
    std::memset(bytes.data(), 0, bytes.size());
    char* chars = reinterpret_cast<char*>(bytes.data());
    if (length != 0 && m_file->read(chars, length, 1) != 1) {
        AS_THROW(ASException, "cannot read from file");
    }
    if (std::strlen(chars) != length) {
        AS_THROW(ASException, "read string contains terminating characters!");
    }
    if (text.assign(chars, length) != 0) AS_THROW(ASException, "problems duplicating string");
    return length;
}

}  // namespace ascommon
