// Reading and writing "defragdate" records; the defragmentation age.
#include "core/defrag_date.h"

#include <cstdio>
#include <vector>

namespace vexa {
namespace {

std::uint16_t Field(const unsigned char* record, int index) {
  return static_cast<std::uint16_t>(record[index * 2] | (record[index * 2 + 1] << 8));
}

void PutField(unsigned char* record, int index, unsigned value) {
  record[index * 2] = static_cast<unsigned char>(value & 0xFF);
  record[index * 2 + 1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

bool LocalTime(std::time_t t, std::tm* out) {
#ifdef _WIN32
  return localtime_s(out, &t) == 0;
#else
  return localtime_r(&t, out) != nullptr;
#endif
}

// Calendar time of a record, 0 when it holds no usable date.
std::time_t RecordTime(const unsigned char* record) {
  const unsigned year = Field(record, 0), month = Field(record, 1), day = Field(record, 3);
  const unsigned hour = Field(record, 4), minute = Field(record, 5), second = Field(record, 6);
  if (year < 1900) return 0;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return 0;
  std::tm tm{};
  tm.tm_year = static_cast<int>(year) - 1900;
  tm.tm_mon = static_cast<int>(month) - 1;
  tm.tm_mday = static_cast<int>(day);
  tm.tm_hour = static_cast<int>(hour);
  tm.tm_min = static_cast<int>(minute);
  tm.tm_sec = static_cast<int>(second);
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  return t == static_cast<std::time_t>(-1) ? 0 : t;
}

// Writes `size` bytes at `offset` of `fileName`, creating the file when missing.
bool WriteRecordAt(const std::string& fileName, long offset, const unsigned char* record, std::size_t size) {
  std::FILE* f = std::fopen(fileName.c_str(), "r+b");
  if (f == nullptr) f = std::fopen(fileName.c_str(), "w+b");
  if (f == nullptr) return false;
  bool ok = std::fseek(f, offset, SEEK_SET) == 0 && std::fwrite(record, 1, size, f) == size;
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace

std::int32_t DefragmentationAge(const std::string& fileName, int s, std::time_t now) {
  std::FILE* f = std::fopen(fileName.c_str(), "rb");
  if (f == nullptr) return 0;
  unsigned char record[kDefragDateRecordSize] = {};
  bool empty = std::fseek(f, 0, SEEK_END) != 0 || std::ftell(f) <= 0;
  if (!empty && std::fseek(f, static_cast<long>(s) * kDefragDateRecordSize, SEEK_SET) == 0) {
    // A file shorter than the record reads as zeros past its end.
    (void)std::fread(record, 1, sizeof record, f);
  }
  std::fclose(f);
  if (empty) return 0;
  const std::int64_t days = (static_cast<std::int64_t>(now) - static_cast<std::int64_t>(RecordTime(record))) / 86400;
  return days > 1 ? 2 : 1;
}

bool WriteDefragDate(const std::string& fileName, int s, std::time_t when) {
  std::tm tm{};
  if (!LocalTime(when, &tm)) return false;
  unsigned char record[kDefragDateRecordSize] = {};
  PutField(record, 0, static_cast<unsigned>(tm.tm_year + 1900));
  PutField(record, 1, static_cast<unsigned>(tm.tm_mon + 1));
  PutField(record, 3, static_cast<unsigned>(tm.tm_mday));
  PutField(record, 4, static_cast<unsigned>(tm.tm_hour));
  PutField(record, 5, static_cast<unsigned>(tm.tm_min));
  PutField(record, 6, static_cast<unsigned>(tm.tm_sec));
  return WriteRecordAt(fileName, static_cast<long>(s) * kDefragDateRecordSize, record, sizeof record);
}

bool RecordedVolumeIs(const std::string& fileName, int s, std::optional<std::uint32_t> serial) {
  if (!serial || s < 0) return false;
  std::FILE* f = std::fopen(fileName.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned char record[kDefragVolumeRecordSize] = {};
  const bool read = std::fseek(f, static_cast<long>(s) * kDefragVolumeRecordSize, SEEK_SET) == 0 &&
                    std::fread(record, 1, sizeof record, f) == sizeof record;
  std::fclose(f);
  if (!read) return false;
  const std::uint32_t recorded = static_cast<std::uint32_t>(Field(record, 0)) | (std::uint32_t{Field(record, 1)} << 16);
  const std::uint32_t volume = static_cast<std::uint32_t>(Field(record, 2)) | (std::uint32_t{Field(record, 3)} << 16);
  return recorded == 1 && volume == *serial;
}

bool WriteDefragVolume(const std::string& fileName, int s, std::optional<std::uint32_t> serial) {
  if (s < 0) return false;
  unsigned char record[kDefragVolumeRecordSize] = {};
  if (serial) {
    PutField(record, 0, 1);
    PutField(record, 2, *serial & 0xFFFF);
    PutField(record, 3, *serial >> 16);
  }
  return WriteRecordAt(fileName, static_cast<long>(s) * kDefragVolumeRecordSize, record, sizeof record);
}

bool RecordedPrintIs(const std::string& fileName, int s, std::optional<std::uint64_t> fingerprint) {
  if (!fingerprint || s < 0) return false;
  std::FILE* f = std::fopen(fileName.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned char record[kDefragPrintRecordSize] = {};
  const bool read = std::fseek(f, static_cast<long>(s) * kDefragPrintRecordSize, SEEK_SET) == 0 &&
                    std::fread(record, 1, sizeof record, f) == sizeof record;
  std::fclose(f);
  if (!read) return false;
  const std::uint32_t recorded = static_cast<std::uint32_t>(Field(record, 0)) | (std::uint32_t{Field(record, 1)} << 16);
  if (recorded != 1 || Field(record, 2) != 0 || Field(record, 3) != 0) return false;
  std::uint64_t print = 0;
  for (int i = 0; i < 4; ++i) print |= std::uint64_t{Field(record, 4 + i)} << (16 * i);
  return print == *fingerprint;
}

bool WriteDefragPrint(const std::string& fileName, int s, std::optional<std::uint64_t> fingerprint) {
  if (s < 0) return false;
  unsigned char record[kDefragPrintRecordSize] = {};
  if (fingerprint) {
    PutField(record, 0, 1);
    for (int i = 0; i < 4; ++i) PutField(record, 4 + i, static_cast<unsigned>((*fingerprint >> (16 * i)) & 0xFFFF));
  }
  return WriteRecordAt(fileName, static_cast<long>(s) * kDefragPrintRecordSize, record, sizeof record);
}

std::int32_t VolumeDefragmentationAge(const std::string& dateFile, const std::string& volumeFile, int s,
                                      std::optional<std::uint32_t> serial, std::time_t now) {
  const std::int32_t age = DefragmentationAge(dateFile, s, now);
  if (age == 1 && !RecordedVolumeIs(volumeFile, s, serial)) return 2;
  return age;
}

bool EnsureZeroFile(const std::string& fileName, std::size_t size) {
  if (std::FILE* f = std::fopen(fileName.c_str(), "rb")) {
    std::fclose(f);
    return true;
  }
  std::FILE* f = std::fopen(fileName.c_str(), "wb");
  if (f == nullptr) return false;
  const std::vector<unsigned char> zeros(size, 0);
  bool ok = std::fwrite(zeros.data(), 1, zeros.size(), f) == zeros.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace vexa
