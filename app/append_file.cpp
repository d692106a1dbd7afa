#include "app/append_file.h"

namespace tslflash {

std::string AppendLine(AppendFile& file, std::string_view line) {
  const LastByteRead last = file.LastByte();
  if (!last.error.empty()) return last.error;
  // A line left without its end by a crash is ended here, in the same write,
  // so that it stays one bad line of its own instead of swallowing this one.
  std::string bytes = last.byte && *last.byte != '\n' ? "\n" : "";
  bytes.append(line);
  bytes.push_back('\n');
  std::string_view rest = bytes;
  while (!rest.empty()) {
    const AppendWrite write = file.Write(rest);
    if (!write.error.empty()) return write.error;
    if (write.written == 0) return "nothing was written";
    rest.remove_prefix(std::min(write.written, rest.size()));
  }
  return file.Sync();
}

}  // namespace tslflash
