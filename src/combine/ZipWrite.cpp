#include "combine/ZipWrite.h"

#include <zlib.h>

#include <cerrno>
#include <ctime>
#include <limits>

#include "combine/ArchiveWrite.h"

namespace meridane {

namespace {

void Put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xff);
  out += static_cast<char>((value >> 8) & 0xff);
}

void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xffff);
  Put16(out, value >> 16);
}

// Raw deflate, as zip entries hold it (no zlib header).
std::string Deflate(std::string_view data) {
  z_stream stream{};
  if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int code = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (code != Z_STREAM_END) throw std::bad_alloc();
  return out;
}

constexpr std::uint64_t ZipLimit = std::numeric_limits<std::uint32_t>::max();

}  // namespace

TZipWriter::TZipWriter(std::filesystem::path path) : File(std::move(path)) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) && local.tm_year >= 80) {
    Time = static_cast<std::uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    Date = static_cast<std::uint16_t>((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
  } else {
    Date = 1 << 5 | 1;  // 1 January 1980, the first day a zip can say
  }
}

TZipWriter::~TZipWriter() {
  if (Out) std::fclose(Out);
}

void TZipWriter::Failed(int error) {
  if (Out) std::fclose(Out);
  Out = nullptr;
  throw EWriteError(File, WriteFailureReason(error ? error : EIO));
}

void TZipWriter::Open() {
  if (Out) return;
  errno = 0;
  Out = std::fopen(File.c_str(), Begun ? "r+b" : "wb");
  if (!Out) Failed(errno);
  Begun = true;
  if (std::fseek(Out, static_cast<long>(Offset), SEEK_SET) != 0) Failed(errno);
}

void TZipWriter::Write(std::string_view bytes) {
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), Out) != bytes.size()) Failed(errno);
  Offset += bytes.size();
}

void TZipWriter::Add(std::string_view name, std::string_view data, bool deflate) {
  Open();
  TEntry entry;
  entry.Name = name;
  entry.Crc = static_cast<std::uint32_t>(
      crc32_z(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(data.data()), data.size()));
  std::string packed;
  if (deflate) packed = Deflate(data);
  // A deflated entry no smaller than its data is stored instead.
  entry.Method = deflate && packed.size() < data.size() ? 8 : 0;
  const std::string_view body = entry.Method == 8 ? std::string_view(packed) : data;
  if (Offset + 30 + name.size() + body.size() > ZipLimit || data.size() > ZipLimit || Entries.size() >= 0xffff)
    Failed(EFBIG);
  entry.Packed = static_cast<std::uint32_t>(body.size());
  entry.Size = static_cast<std::uint32_t>(data.size());
  entry.Offset = static_cast<std::uint32_t>(Offset);
  std::string header;
  Put32(header, 0x04034b50);
  Put16(header, 20);  // version 2.0 reads it
  Put16(header, 0);
  Put16(header, entry.Method);
  Put16(header, Time);
  Put16(header, Date);
  Put32(header, entry.Crc);
  Put32(header, entry.Packed);
  Put32(header, entry.Size);
  Put16(header, static_cast<std::uint32_t>(name.size()));
  Put16(header, 0);
  header += name;
  Write(header);
  Write(body);
  Entries.push_back(std::move(entry));
}

void TZipWriter::Pause() {
  if (!Out) return;
  errno = 0;
  const int closed = std::fclose(Out);
  Out = nullptr;
  if (closed != 0) Failed(errno);
}

void TZipWriter::Finish() {
  Open();
  std::string directory;
  for (const TEntry& e : Entries) {
    Put32(directory, 0x02014b50);
    Put16(directory, 20);
    Put16(directory, 20);
    Put16(directory, 0);
    Put16(directory, e.Method);
    Put16(directory, Time);
    Put16(directory, Date);
    Put32(directory, e.Crc);
    Put32(directory, e.Packed);
    Put32(directory, e.Size);
    Put16(directory, static_cast<std::uint32_t>(e.Name.size()));
    Put32(directory, 0);  // no extra field, no comment
    Put32(directory, 0);  // disk 0, no internal attributes
    Put32(directory, 0);  // no external attributes
    Put32(directory, e.Offset);
    directory += e.Name;
  }
  if (Offset + directory.size() + 22 > ZipLimit) Failed(EFBIG);
  const auto start = static_cast<std::uint32_t>(Offset);
  std::string end;
  Put32(end, 0x06054b50);
  Put32(end, 0);  // this disk, the directory's disk
  Put16(end, static_cast<std::uint32_t>(Entries.size()));
  Put16(end, static_cast<std::uint32_t>(Entries.size()));
  Put32(end, static_cast<std::uint32_t>(directory.size()));
  Put32(end, start);
  Put16(end, 0);
  Write(directory);
  Write(end);
  Pause();
}

}  // namespace meridane
