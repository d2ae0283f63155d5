// Sequential text files used through numbered channels, the way the engine and the event log read
// and write files. Text is handled as the bytes on disk; files are streamed in large blocks through
// one buffer per channel that is kept across opens, so no file is ever held whole in memory.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace quelix {

class ByteSearch;

// How a line ended on disk, so that a line can be written back with the same end.
enum class LineEnd { kCrLf, kLf, kCr, kNone };

class TextFiles {
 public:
  static constexpr int kChannels = 8;  // channels 1 to 8
  static constexpr size_t kBlockSize = 256 * 1024;

  explicit TextFiles(FileSystem& fs);
  ~TextFiles();
  TextFiles(const TextFiles&) = delete;
  TextFiles& operator=(const TextFiles&) = delete;

  // Creates the file when absent; existing content stays and every write lands at the end.
  Status OpenAppend(int channel, const std::string& path);
  // Puts a file the caller opened on `channel`, for reading from where it stands (`input`) or for
  // writing.
  Status Attach(int channel, std::unique_ptr<File> file, bool input);
  // Writes out what is buffered and takes the file off `channel`, open, into `*file`; where it
  // stands within the file is not told. The channel is released even on failure.
  Status Detach(int channel, std::unique_ptr<File>* file);
  // Describes the file open on `channel`.
  Status GetInfo(int channel, FileInfo* info);

  // Writes out what is buffered and releases the channel. The channel is released even on failure.
  Status Close(int channel);
  // Hands buffered output to the OS; with `to_disk`, also waits until it is on the device.
  Status Flush(int channel, bool to_disk);

  // The next field: leading and trailing blanks dropped; a field that opens with a double quote
  // runs to the next one (across line ends), and the rest up to the next comma or line end is
  // skipped; any other field runs to the next comma or line end. Fails with kEndOfInput when only
  // blanks or nothing remain.
  Status ReadField(int channel, std::string* field);
  // The same, keeping at most `max_length` bytes of the field in memory: `*longer` tells that the
  // whole field was longer (a field of a binary file can be as long as the file).
  Status ReadField(int channel, std::string* field, size_t max_length, bool* longer);
  // Up to `max_length` bytes of the current line without its terminator (CR, CR LF or LF), so
  // that a line of any length can be streamed: `*complete` is set when the part reaches the line's
  // end, which is then consumed and told in `end`; otherwise the next call goes on with the same
  // line. Fails with kEndOfInput only when a new line is asked for and nothing remains. A hole in
  // the file (zeros the volume holds no data for) is read, by every reader, as one zero byte. Where
  // `hole` is given, a part ends right after such a byte and `*hole` tells how many zero bytes it
  // stands for (0 for a part that ends otherwise).
  Status ReadLinePart(int channel, std::string* part, size_t max_length, bool* complete,
                      LineEnd* end, uint64_t* hole = nullptr);
  // Goes back to the start of the file open for input on `channel`.
  Status Rewind(int channel);
  // Writes `text` followed by the line end (CR LF unless told otherwise).
  Status WriteLine(int channel, std::string_view text, LineEnd end = LineEnd::kCrLf);
  // Writes out what is buffered, then `length` zero bytes that take no room where the volume can
  // leave a hole.
  Status WriteHole(int channel, uint64_t length);
  // Sets `*at_end` once no unread byte remains; fails when the channel is not open for input.
  Status AtEnd(int channel, bool* at_end);

  // Reads from the current position to the end and sets `*found` when `needle` occurs, then goes
  // back to the start of the file: a fast test of whether field reading can find it. Calls
  // `between_blocks` after every block and stops early, with `*found` false, when it returns false.
  Status Contains(int channel, std::string_view needle, bool* found,
                  const std::function<bool()>& between_blocks);

  // The bytes read through every channel so far (the holes passed over not counted).
  uint64_t bytes_read() const { return bytes_read_; }

 private:
  struct Channel;
  Status Lookup(int channel, Channel** found);
  Status Lookup(int channel, bool for_input, Channel** found);
  Status Fill(Channel& c);
  Status Peek(Channel& c, int* byte);  // -1 at end of input
  Status SkipLineEnd(Channel& c, LineEnd* end);
  struct FieldBuilder;
  Status ReadQuoted(Channel& c, FieldBuilder& field);
  Status ReadUnquoted(Channel& c, FieldBuilder& field);
  Status SkipToNextField(Channel& c);

  FileSystem& fs_;
  std::array<std::unique_ptr<Channel>, kChannels + 1> channels_;
  uint64_t bytes_read_ = 0;
  std::string search_needle_;
  std::unique_ptr<ByteSearch> search_;
};

}  // namespace quelix
