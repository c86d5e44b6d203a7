// Mail inputs of the reference host: which files a scan reads (files as given, folders
// recursively), how an mbox file splits into messages, and a reader that hands out the messages
// of one file in turn without holding more than one message of it. Plain functions and
// single-owner objects; any thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// The path that stands for standard input.
constexpr const char* kStandardInput = "-";

struct InputFile {
    std::string path;
    uint64_t size = 0;
    std::string error;      // set when the path cannot be scanned
    bool inFolder = false;  // found in a folder (a candidate, not a file the user named)
};

// Expands the paths in order: "-" (standard input) and a regular file are taken as they are; a
// folder is walked recursively (symbolic links to folders are not followed) for every file but
// hidden ones and those in a Maildir's "tmp", in path order (an mbox is recognised by its first
// line when it is read). A path that does not exist, is neither a regular file nor a folder (a
// FIFO, a device), or is a folder (or subfolder) that cannot be read gives an entry with its
// error; so does a file of a folder that is not a regular file.
std::vector<InputFile> CollectInputs(const std::vector<std::string>& paths);

// An mbox file starts with a "From " envelope line.
bool LooksLikeMbox(std::string_view data);

// One message of an input. When the message is longer than the reader's limit, bytes holds its
// first `limit` bytes and size its whole length.
struct MailMessage {
    std::string bytes;
    uint64_t size = 0;
    bool Cut() const { return size > bytes.size(); }
};

// Splits an mbox stream into messages as its bytes arrive. Each message starts after a "From "
// line that begins the stream, follows a blank line, or directly follows the envelope line
// before it (that message is then empty); the envelope line is not part of the message, and the
// line break before the next envelope line is dropped. Quoted ">From " lines are kept as they
// are. Keeps at most `limit` bytes of a message, counting the rest.
class MboxSplitter {
  public:
    explicit MboxSplitter(uint64_t limit) : m_limit(limit) {}
    void Feed(const char* data, size_t size);
    void Finish();  // the end of the stream
    // Complete messages, oldest first; the caller takes them off.
    std::deque<MailMessage>& done() { return m_done; }

  private:
    void Append(const char* data, size_t size);
    void Retract(uint64_t count);
    void EndLine();

    const uint64_t m_limit;
    std::deque<MailMessage> m_done;
    MailMessage m_message;
    bool m_open = false;           // a message has started (its envelope line ended)
    bool m_inEnvelope = true;      // skipping an envelope line
    bool m_atLineStart = true;     // collecting the first bytes of a line in m_head
    bool m_afterEnvelope = false;  // the line follows the envelope line directly
    bool m_previousBlank = false;  // the line before was empty ("\n" or "\r\n")
    bool m_previousCr = false;     // the line before ended with "\r\n"
    uint64_t m_lineLength = 0;     // bytes of the current line so far
    char m_lastByte = 0;           // the current line's last byte
    std::string m_head;            // up to five bytes: is the line an envelope line?
};

// The messages of an mbox file held whole (with no size limit).
std::vector<std::string> SplitMbox(std::string_view data);

// Reads the messages of one input file in turn: an mbox file gives one message per envelope,
// any other file one message. At most one message of the file is held at a time, cut to
// `limit` bytes (a longer single message is not read past the limit).
class MailReader {
  public:
    MailReader() = default;
    MailReader(const MailReader&) = delete;
    MailReader& operator=(const MailReader&) = delete;
    ~MailReader();

    // False with *error (the reason) when the file cannot be opened or is not a regular file;
    // "-" reads standard input.
    bool Open(const std::string& path, uint64_t limit, std::string* error);
    // The next message; false at the end, or on a read error with *error set.
    bool Next(MailMessage* message, std::string* error);
    bool mbox() const { return m_splitter != nullptr; }

  private:
    bool Fill(std::string* error);  // reads one block into m_block; false on a read error

    std::FILE* m_file = nullptr;
    bool m_ownsFile = true;
    uint64_t m_limit = 0;
    uint64_t m_fileSize = 0;  // 0 when unknown (standard input)
    uint64_t m_read = 0;
    std::string m_block;
    bool m_atEnd = false;
    bool m_single = false;  // the one message of a plain file was handed out
    std::unique_ptr<MboxSplitter> m_splitter;
};

// Reads a whole file; false with *error ("path: reason") when it cannot.
bool ReadWholeFile(const std::string& path, std::string* content, std::string* error);

}  // namespace host
