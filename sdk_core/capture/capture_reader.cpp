#include "capture_reader.h"

#include "byte_source.h"
#include "datagram_decode.h"
#include "format_reader.h"

namespace kesto::capture {

std::string AtByte(uint64_t offset) { return "at byte " + std::to_string(offset) + ": "; }

CaptureReader::CaptureReader(std::unique_ptr<ByteSource> source) : source_(std::move(source)) {}
CaptureReader::CaptureReader(CaptureReader&&) noexcept = default;
CaptureReader& CaptureReader::operator=(CaptureReader&&) noexcept = default;
CaptureReader::~CaptureReader() = default;

CaptureReader CaptureReader::OpenFile(const std::string& path) {
  return CaptureReader(MakeFileSource(path));
}

CaptureReader CaptureReader::FromBytes(std::vector<uint8_t> bytes) {
  return CaptureReader(MakeMemorySource(std::move(bytes)));
}

ReadStatus CaptureReader::Fail(std::string text) {
  // A read failure explains a short read better than the format's complaint about it.
  error_ = source_->failure().empty() ? std::move(text) : source_->failure();
  format_.reset();
  return ReadStatus::kError;
}

ReadStatus CaptureReader::NextPacket(CapturedPacket& packet) {
  if (!error_.empty()) return ReadStatus::kError;
  std::string text;
  if (!format_) {
    std::vector<uint8_t> magic;
    if (source_->Append(magic, 4) < 4) {
      return Fail(magic.empty() ? "empty file, not a capture" : "too short to be a capture");
    }
    format_ = OpenPcapng(*source_, magic.data(), text);
    if (!format_ && text == "not a pcapng capture") format_ = OpenPcap(*source_, magic.data(), text);
    if (!format_) return Fail(std::move(text));
  }
  const ReadStatus status = format_->Next(*source_, packet, text);
  if (status == ReadStatus::kError || !source_->failure().empty()) return Fail(std::move(text));
  return status;
}

ReadStatus CaptureReader::NextDatagram(CapturedDatagram& datagram) {
  for (;;) {
    const ReadStatus status = NextPacket(scratch_);
    if (status != ReadStatus::kItem) return status;
    switch (DecodeDatagram(scratch_.link_type, scratch_.bytes.data(), scratch_.bytes.size(), datagram)) {
      case DecodeResult::kDatagram:
        datagram.time_ns = scratch_.time_ns;
        return ReadStatus::kItem;
      case DecodeResult::kNoDatagram:
        break;
      case DecodeResult::kUnknownLinkType:
        return Fail("packet of link type " + std::to_string(scratch_.link_type) +
                    ", which the reader cannot decode");
    }
  }
}

namespace {

CaptureContents ReadAll(CaptureReader reader) {
  CaptureContents contents;
  CapturedDatagram datagram;
  ReadStatus status;
  while ((status = reader.NextDatagram(datagram)) == ReadStatus::kItem) {
    contents.datagrams.push_back(std::move(datagram));
    datagram = CapturedDatagram{};
  }
  if (status == ReadStatus::kError) contents.error = reader.error();
  return contents;
}

}  // namespace

CaptureContents ReadCaptureFile(const std::string& path) {
  return ReadAll(CaptureReader::OpenFile(path));
}

CaptureContents ReadCaptureBytes(std::vector<uint8_t> bytes) {
  return ReadAll(CaptureReader::FromBytes(std::move(bytes)));
}

}  // namespace kesto::capture
