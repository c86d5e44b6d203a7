// The binary streamer: typed values written to and read from the module's data files (format in
// common/binstreamer_format.h and docs/data-file-format.md). A streamer either writes (mode 1)
// or reads (any other mode). Reading unscrambles the data file into a temporary copy, checks the
// copy against its stored digest and reads from the copy; writing goes straight to the data file,
// whose digest and scrambling are applied by Close. Nothing in the payload says what a value is:
// writer and reader must agree on the sequence.
//
// Failures are thrown as ASException (and ASFileException, ASBadPtrException, ASMemException),
// each after its trace line. A streamer belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/asfile.h"
#include "common/binstreamer_format.h"
#include "common/sstring.h"

namespace ascommon {

// The typed operations, in this slot order after the destructor. The signed and unsigned
// variants of one width transfer the same bytes. Write arrays return bytes, read arrays elements.
class IStreamer {
  public:
    virtual ~IStreamer() = default;

    virtual size_t WriteUInt16(uint16_t value) = 0;
    virtual size_t WriteInt16(int16_t value) = 0;
    virtual size_t WriteUInt32(uint32_t value) = 0;
    virtual size_t WriteInt32(int32_t value) = 0;
    virtual size_t WriteByte(uint8_t value) = 0;
    virtual size_t WriteBuffer(const void* buffer, size_t length) = 0;
    virtual size_t WriteUInt16Array(const uint16_t* values, size_t count) = 0;
    virtual size_t WriteInt16Array(const int16_t* values, size_t count) = 0;
    virtual size_t WriteUInt32Array(const uint32_t* values, size_t count) = 0;
    virtual size_t WriteInt32Array(const int32_t* values, size_t count) = 0;
    virtual size_t WriteString(const sstring& text) = 0;
    __attribute__((format(printf, 2, 3))) virtual int Printf(const char* format, ...) = 0;

    virtual uint16_t ReadUInt16() = 0;
    virtual int16_t ReadInt16() = 0;
    virtual uint32_t ReadUInt32() = 0;
    virtual int32_t ReadInt32() = 0;
    virtual uint8_t ReadByte() = 0;
    virtual size_t ReadBuffer(void* buffer, size_t length) = 0;
    virtual size_t ReadUInt16Array(uint16_t* values, size_t count) = 0;
    virtual size_t ReadInt16Array(int16_t* values, size_t count) = 0;
    virtual size_t ReadUInt32Array(uint32_t* values, size_t count) = 0;
    virtual size_t ReadInt32Array(int32_t* values, size_t count) = 0;
    virtual size_t ReadString(sstring& text, size_t length) = 0;
};

class CBinaryStreamer : public IStreamer {
  public:
    // Opens fileName for writing (mode 1) or reading (any other mode); throws on failure. Both
    // modes first make an empty temporary file "qxas..." in tempFolder ("." when the string is
    // uninitialised); reading uses it as the unscrambled copy, writing deletes it again. A
    // constructor that throws leaves no temporary file behind. headerValue is written into the
    // header of a new file; a reader ignores it.
    CBinaryStreamer(const sstring& fileName, uint32_t mode, sstring tempFolder,
                    uint32_t headerValue);
    // Closes an open streamer as Close does; never throws (failures are traced).
    ~CBinaryStreamer() override;
    CBinaryStreamer(const CBinaryStreamer&) = delete;
    CBinaryStreamer& operator=(const CBinaryStreamer&) = delete;

    // Writing: stores the payload digest in the header and scrambles the file. Reading: closes and
    // deletes the temporary copy. The streamer is closed afterwards even when this throws; on a
    // closed streamer it does nothing.
    void Close();

    // The bytes a reading streamer has left to read; 0 when closed or when the position cannot
    // be told. Readers of counted data check a count against it before they size anything.
    uint64_t Remaining() const;

    // Slots 1 to 4 check no mode: on a reading streamer the write fails (" Cannot write to
    // file"). Zero lengths and counts transfer nothing and are no error.
    size_t WriteUInt16(uint16_t value) override;
    size_t WriteInt16(int16_t value) override;
    size_t WriteUInt32(uint32_t value) override;
    size_t WriteInt32(int32_t value) override;
    size_t WriteByte(uint8_t value) override;
    size_t WriteBuffer(const void* buffer, size_t length) override;
    size_t WriteUInt16Array(const uint16_t* values, size_t count) override;
    size_t WriteInt16Array(const int16_t* values, size_t count) override;
    size_t WriteUInt32Array(const uint32_t* values, size_t count) override;
    size_t WriteInt32Array(const int32_t* values, size_t count) override;
    size_t WriteString(const sstring& text) override;
    // The characters written (vfprintf's result).
    __attribute__((format(printf, 2, 3))) int Printf(const char* format, ...) override;

    uint16_t ReadUInt16() override;
    int16_t ReadInt16() override;
    uint32_t ReadUInt32() override;
    int32_t ReadInt32() override;
    uint8_t ReadByte() override;
    size_t ReadBuffer(void* buffer, size_t length) override;
    size_t ReadUInt16Array(uint16_t* values, size_t count) override;
    size_t ReadInt16Array(int16_t* values, size_t count) override;
    size_t ReadUInt32Array(uint32_t* values, size_t count) override;
    size_t ReadInt32Array(int32_t* values, size_t count) override;
    // Reads exactly length bytes into text; bytes holding a NUL are refused.
    size_t ReadString(sstring& text, size_t length) override;

  private:
    void OpenForRead();
    void OpenForWrite();
    void CheckDigest();
    void FinishDigest();
    void ReadHeader(CASFile& file);
    void WriteHeader(CASFile& file);
    void ReleaseFile();
    void RemoveTempFile();
    bool HasFile() const;
    void RequireWriteMode() const;
    void RequireReadMode() const;
    void RequireFile() const;
    void WriteValue(const uint8_t* bytes, size_t size);  // slots 1 to 4
    void ReadValue(uint8_t* bytes, size_t size);         // slots 13 to 17

    uint32_t m_mode;
    sstring m_fileName;
    sstring m_tempFolder;
    sstring m_tempFileName;
    CASFile* m_file;
    uint8_t m_digest[binformat::kDigestSize];
    uint32_t m_valueA;
    uint32_t m_valueB;
    uint32_t m_headerValue;
    char m_description[binformat::kDescriptionSize];
    bool m_open;
};

// The MD5 digest of length bytes into digest (16 bytes). Throws ASBadPtrException "Invalid
// parameters in ComputeCRC" for a null buffer or output.
void ComputeCRC(const unsigned char* buffer, size_t length, unsigned char* digest);

namespace detail {
// The scrambling pass: reads source whole (at most sizeLimit bytes), XORs every byte with the
// mask and writes the result to target, which may be the source itself.
void ScrambleFile(const char* source, const char* target,
                  uint64_t sizeLimit = binformat::kMaxFileSize);
}  // namespace detail

}  // namespace ascommon
