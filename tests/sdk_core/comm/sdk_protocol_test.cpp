#include "sdk_protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "command_id.h"
#include "crc16.h"
#include "crc32.h"
#include "log_capture.h"
#include "parse_frame.h"

namespace kesto::lidar {
namespace {

using Bytes = std::vector<uint8_t>;

// Names each parameterised case after its `name` field.
template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& param) {
  return param.param.name;
}

const Bytes kDiscoveryRequest = {0xAA, 0x00, 0x18, 0x00, 0x02, 0x00, 0x00, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                 0x00, 0x00, 0x0A, 0x92, 0x00, 0x00, 0x00, 0x00};
const std::string kRejectLine = "Comm Port Check Preamble error.";

Bytes Payload(std::size_t size) {
  Bytes payload(size);
  for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<uint8_t>(i * 31 + 7);
  return payload;
}

// Recomputes both checksums after a test edits a frame, so the one check the edit aims at is
// the one that rejects it. Uses the length field only when it lies inside the frame.
void Reseal(Bytes& frame) {
  const uint16_t header_crc = Crc16(frame.data(), 18);
  frame[18] = static_cast<uint8_t>(header_crc);
  frame[19] = static_cast<uint8_t>(header_crc >> 8);
  const std::size_t length = frame[2] | (frame[3] << 8);
  if (length < 24 || length > frame.size()) return;
  const uint32_t payload_crc = length == 24 ? 0 : Crc32(frame.data() + 24, length - 24);
  for (int i = 0; i < 4; ++i) frame[20 + i] = static_cast<uint8_t>(payload_crc >> (8 * i));
}

class SdkProtocolTest : public ::testing::Test {
 protected:
  // Encodes as senders do, into a zero-filled 1400-byte buffer, and returns exactly the frame.
  Bytes Encode(const ProtocolCommand& command) const {
    Bytes buffer(kMaxFrameLength, 0);
    int length = 0;
    EXPECT_EQ(codec_->EncodeFrame(buffer.data(), kMaxFrameLength, length, command), 0);
    buffer.resize(static_cast<std::size_t>(length));
    return buffer;
  }

  static ProtocolCommand Command(uint16_t seq, uint16_t cmd_id, const Bytes& payload) {
    ProtocolCommand command;
    command.version = kSenderProtocolVersion;
    command.seq = seq;
    command.cmd_id = cmd_id;
    command.data = payload.data();
    command.data_len = static_cast<uint16_t>(payload.size());
    return command;
  }

  // Runs ParseFrame on an exactly sized heap copy, so a read past the datagram is caught by
  // AddressSanitizer, and returns what it logged, one text a line. The copy stays alive until
  // the next Parse, as a receive buffer does while the decoded command is routed.
  bool Parse(const Bytes& datagram, ProtocolCommand& command, std::string& logged) {
    received_ = std::make_unique<uint8_t[]>(datagram.size());
    if (!datagram.empty()) std::memcpy(received_.get(), datagram.data(), datagram.size());
    test::LogCapture capture;
    const bool ok = ParseFrame(*codec_, datagram.empty() ? nullptr : received_.get(),
                               static_cast<uint32_t>(datagram.size()), command);
    logged.clear();
    for (const std::string& text : capture.Texts()) logged += text;
    return ok;
  }

  std::unique_ptr<Protocol> codec_ = std::make_unique<SdkProtocol>();
  std::unique_ptr<uint8_t[]> received_;
};

TEST_F(SdkProtocolTest, DiscoveryRequestEncodesToItsKnownBytes) {
  Bytes buffer(kMaxFrameLength, 0);
  int length = 0;
  ProtocolCommand command = Command(2, kCmdIdDiscovery, {});
  ASSERT_EQ(codec_->EncodeFrame(buffer.data(), kMaxFrameLength, length, command), 0);
  ASSERT_EQ(length, 24);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 24), kDiscoveryRequest);
  EXPECT_EQ(Bytes(buffer.begin() + 24, buffer.end()), Bytes(kMaxFrameLength - 24, 0));
}

TEST_F(SdkProtocolTest, DiscoveryRequestParsesQuietly) {
  test::LogCapture capture;
  ProtocolCommand command;
  std::string printed;
  ASSERT_TRUE(Parse(kDiscoveryRequest, command, printed));
  EXPECT_EQ(printed, "");
  EXPECT_TRUE(capture.Lines().empty());
  EXPECT_EQ(command.protocol, kProtocolCommandFrame);
  EXPECT_EQ(command.version, 0);
  EXPECT_EQ(command.seq, 2u);
  EXPECT_EQ(command.cmd_id, kCmdIdDiscovery);
  EXPECT_EQ(command.cmd_type, kCommandTypeCommand);
  EXPECT_EQ(command.sender_type, kSenderTypeHost);
  EXPECT_EQ(command.data_len, 0);
}

TEST_F(SdkProtocolTest, SizesAndLengthField) {
  const SdkProtocol codec;
  EXPECT_EQ(codec.MinFrameLength(), 24u);
  EXPECT_EQ(codec.HeaderLength(), 24u);
  const uint8_t header[4] = {0xAA, 0x00, 0x34, 0x12};
  EXPECT_EQ(codec.FrameLengthOf(header), 0x1234);
}

struct RoundTrip {
  const char* name;
  uint16_t seq;
  uint16_t cmd_id;
  uint8_t cmd_type;
  std::size_t payload_size;
};

class SdkProtocolRoundTrip : public SdkProtocolTest,
                             public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(SdkProtocolRoundTrip, DecodesWhatWasEncoded) {
  const RoundTrip& c = GetParam();
  const Bytes payload = Payload(c.payload_size);
  ProtocolCommand sent = Command(c.seq, c.cmd_id, payload);
  sent.cmd_type = c.cmd_type;
  const Bytes frame = Encode(sent);

  ASSERT_EQ(frame.size(), 24 + c.payload_size);
  EXPECT_EQ(codec_->FrameLengthOf(frame.data()), frame.size());
  EXPECT_EQ(Bytes(frame.begin() + 12, frame.begin() + 18), Bytes(6, 0));
  const uint32_t payload_crc = frame[20] | (frame[21] << 8) | (frame[22] << 16) |
                               (static_cast<uint32_t>(frame[23]) << 24);
  EXPECT_EQ(payload_crc, c.payload_size == 0 ? 0u : Crc32(payload.data(), payload.size()));

  ProtocolCommand got;
  std::string printed;
  ASSERT_TRUE(Parse(frame, got, printed));
  EXPECT_EQ(printed, "");
  EXPECT_EQ(got.protocol, kProtocolCommandFrame);
  EXPECT_EQ(got.version, 0);  // the sender's 3 is not transmitted
  EXPECT_EQ(got.seq, c.seq);
  EXPECT_EQ(got.cmd_id, c.cmd_id);
  EXPECT_EQ(got.cmd_type, c.cmd_type);
  EXPECT_EQ(got.sender_type, kSenderTypeHost);
  ASSERT_EQ(got.data_len, c.payload_size);
  EXPECT_EQ(Bytes(got.data, got.data + got.data_len), payload);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SdkProtocolRoundTrip,
    ::testing::Values(RoundTrip{"DiscoveryEmpty", 1, kCmdIdDiscovery, kCommandTypeCommand, 0},
                      RoundTrip{"SetOneByte", 2, kCmdIdSetParameters, kCommandTypeCommand, 1},
                      RoundTrip{"QueryAck", 300, kCmdIdQueryParameters, kCommandTypeAck, 22},
                      RoundTrip{"StatePush", 0x8001, kCmdIdStatePush, kCommandTypeCommand, 200},
                      RoundTrip{"LogPushFull", 65535, kCmdIdLogFilePush, kCommandTypeCommand,
                                kMaxPayloadLength},
                      RoundTrip{"LogControl", 7, kCmdIdLogCaptureControl, kCommandTypeAck, 2}),
    CaseName<RoundTrip>);

TEST_F(SdkProtocolTest, DecodedPayloadPointsIntoTheDatagram) {
  const Bytes payload = Payload(10);
  const Bytes frame = Encode(Command(9, kCmdIdStatePush, payload));
  ProtocolCommand got;
  ASSERT_TRUE(codec_->DecodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), got));
  EXPECT_EQ(got.data, frame.data() + 24);
  EXPECT_EQ(got.data_len, 10);
}

TEST_F(SdkProtocolTest, OnlyTheLowSixteenBitsOfSeqAreSent) {
  ProtocolCommand command = Command(0, kCmdIdDiscovery, {});
  command.seq = 0x0001ABCDu;
  const Bytes frame = Encode(command);
  EXPECT_EQ(Bytes(frame.begin() + 4, frame.begin() + 8), (Bytes{0xCD, 0xAB, 0x00, 0x00}));
  EXPECT_TRUE(codec_->VerifyFrame(frame.data(), static_cast<uint32_t>(frame.size())));
}

TEST_F(SdkProtocolTest, PayloadBuiltInPlaceAtOffset24) {
  Bytes buffer(kMaxFrameLength, 0);
  const Bytes payload = Payload(50);
  std::memcpy(buffer.data() + 24, payload.data(), payload.size());
  ProtocolCommand command = Command(5, kCmdIdSetParameters, payload);
  command.data = buffer.data() + 24;
  int length = 0;
  ASSERT_EQ(codec_->EncodeFrame(buffer.data(), kMaxFrameLength, length, command), 0);
  buffer.resize(static_cast<std::size_t>(length));
  EXPECT_EQ(buffer, Encode(Command(5, kCmdIdSetParameters, payload)));
}

struct EncodeRefusal {
  const char* name;
  uint8_t protocol;
  std::size_t payload_size;
  bool null_payload;
  uint32_t capacity;
};

class SdkProtocolEncodeRefusal : public SdkProtocolTest,
                                 public ::testing::WithParamInterface<EncodeRefusal> {};

// A refused command writes nothing, not even the start byte, and leaves the output length 0;
// the buffer is exactly `capacity` bytes long, so a write past it is caught by AddressSanitizer.
TEST_P(SdkProtocolEncodeRefusal, WritesNothing) {
  const EncodeRefusal& c = GetParam();
  const Bytes payload = Payload(c.payload_size);
  ProtocolCommand command = Command(1, kCmdIdSetParameters, payload);
  command.protocol = c.protocol;
  if (c.null_payload) command.data = nullptr;
  auto buffer = std::make_unique<uint8_t[]>(c.capacity);
  std::memset(buffer.get(), 0x5C, c.capacity);
  int length = 77;
  test::LogCapture capture;
  EXPECT_EQ(codec_->EncodeFrame(buffer.get(), c.capacity, length, command), -1);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(Bytes(buffer.get(), buffer.get() + c.capacity), Bytes(c.capacity, 0x5C));
  EXPECT_TRUE(capture.Lines().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SdkProtocolEncodeRefusal,
    ::testing::Values(EncodeRefusal{"OtherProtocol", 1, 4, false, kMaxFrameLength},
                      EncodeRefusal{"CapacityTwoBytes", 0, 0, false, 2},
                      EncodeRefusal{"CapacityOneShortOfHeader", 0, 0, false, 23},
                      EncodeRefusal{"CapacityOneShortOfPayload", 0, 10, false, 33},
                      EncodeRefusal{"PayloadBeyondSendBuffer", 0, kMaxPayloadLength + 1, false,
                                    kMaxFrameLength},
                      EncodeRefusal{"LengthBeyondSixteenBits", 0, 65535, false, 70000},
                      EncodeRefusal{"NullPayloadWithLength", 0, 8, true, kMaxFrameLength}),
    CaseName<EncodeRefusal>);

TEST_F(SdkProtocolTest, FrameFillingTheCapacityExactlyIsAccepted) {
  const Bytes payload = Payload(10);
  auto buffer = std::make_unique<uint8_t[]>(34);
  int length = 0;
  EXPECT_EQ(codec_->EncodeFrame(buffer.get(), 34, length, Command(1, 0x0100, payload)), 0);
  EXPECT_EQ(length, 34);
}

// Each case edits a valid frame so that exactly one check of the verification fails.
struct Rejection {
  const char* name;
  std::size_t payload_size;
  std::function<void(Bytes&)> spoil;
};

class SdkProtocolRejection : public SdkProtocolTest,
                             public ::testing::WithParamInterface<Rejection> {};

TEST_P(SdkProtocolRejection, LogsOneLineAndLeavesTheCommandAlone) {
  const Rejection& c = GetParam();
  Bytes frame = Encode(Command(0x1234, kCmdIdStatePush, Payload(c.payload_size)));
  c.spoil(frame);
  test::LogCapture capture;
  ProtocolCommand command;
  command.cmd_id = 0x7777;
  std::string printed;
  EXPECT_FALSE(codec_->VerifyFrame(frame.empty() ? nullptr : frame.data(),
                                   static_cast<uint32_t>(frame.size())));
  EXPECT_FALSE(Parse(frame, command, printed));
  EXPECT_EQ(printed, kRejectLine);
  // That one line; the receiver logs its own message about the datagram.
  EXPECT_EQ(capture.Texts(), std::vector<std::string>{kRejectLine});
  EXPECT_EQ(command.cmd_id, 0x7777);
}

void SetLength(Bytes& frame, uint16_t length) {
  frame[2] = static_cast<uint8_t>(length);
  frame[3] = static_cast<uint8_t>(length >> 8);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SdkProtocolRejection,
    ::testing::Values(
        Rejection{"EmptyDatagram", 0, [](Bytes& f) { f.clear(); }},
        Rejection{"TwentyThreeBytes", 0, [](Bytes& f) { f.resize(23); }},
        Rejection{"StartByte", 8, [](Bytes& f) { f[0] = 0xAB; Reseal(f); }},
        Rejection{"VersionOneWithGoodChecksums", 8, [](Bytes& f) { f[1] = 1; Reseal(f); }},
        Rejection{"LengthField23", 0, [](Bytes& f) { SetLength(f, 23); Reseal(f); }},
        Rejection{"LengthFieldZero", 8, [](Bytes& f) { SetLength(f, 0); Reseal(f); }},
        Rejection{"LengthFieldOnePastDatagram", 8,
                  [](Bytes& f) { SetLength(f, static_cast<uint16_t>(f.size() + 1)); Reseal(f); }},
        Rejection{"LengthFieldLargest", 8, [](Bytes& f) { SetLength(f, 0xFFFF); Reseal(f); }},
        Rejection{"DatagramCutInPayload", 8, [](Bytes& f) { f.pop_back(); }},
        Rejection{"HeaderCrc", 8, [](Bytes& f) { f[18] ^= 0x01; }},
        Rejection{"ReservedByteUnderHeaderCrc", 8, [](Bytes& f) { f[15] = 0x40; }},
        Rejection{"PayloadByteAltered", 8, [](Bytes& f) { f[27] ^= 0x10; }},
        Rejection{"PayloadCrc", 8, [](Bytes& f) { f[23] ^= 0x80; }},
        Rejection{"EmptyPayloadWithCrcNotZero", 0, [](Bytes& f) { f[20] = 0x01; }},
        Rejection{"EmptyPayloadWithCrcOfNothing", 0,
                  [](Bytes& f) { f[20] = 0xFF; f[21] = 0xFF; f[22] = 0xFF; f[23] = 0xFF; }}),
    CaseName<Rejection>);

// The header check alone passes an altered payload; only the payload CRC catches it.
TEST_F(SdkProtocolTest, AlteredPayloadKeepsAGoodHeaderCrc) {
  Bytes frame = Encode(Command(3, kCmdIdStatePush, Payload(16)));
  frame[30] ^= 0x01;
  EXPECT_EQ(Crc16(frame.data(), 18), frame[18] | (frame[19] << 8));
  EXPECT_FALSE(codec_->VerifyFrame(frame.data(), static_cast<uint32_t>(frame.size())));
}

TEST_F(SdkProtocolTest, EverySingleBitErrorIsRejected) {
  const Bytes good = Encode(Command(0x0102, kCmdIdSetParameters, Payload(40)));
  for (std::size_t bit = 0; bit < good.size() * 8; ++bit) {
    Bytes frame = good;
    frame[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    EXPECT_FALSE(codec_->VerifyFrame(frame.data(), static_cast<uint32_t>(frame.size())))
        << "bit " << bit;
  }
}

// Every prefix of a frame, in an exactly sized buffer: nothing may be read past it, neither by
// the check nor by a direct decode.
TEST_F(SdkProtocolTest, EveryTruncationIsRejectedWithoutReadingPastIt) {
  const Bytes good = Encode(Command(11, kCmdIdQueryParameters, Payload(40)));
  for (std::size_t size = 0; size < good.size(); ++size) {
    auto copy = std::make_unique<uint8_t[]>(size);
    std::memcpy(copy.get(), good.data(), size);
    ProtocolCommand command;
    EXPECT_FALSE(codec_->VerifyFrame(copy.get(), static_cast<uint32_t>(size))) << size;
    EXPECT_FALSE(codec_->DecodeFrame(copy.get(), static_cast<uint32_t>(size), command)) << size;
  }
}

// A datagram longer than its length field passes; the payload ends where the field says.
TEST_F(SdkProtocolTest, BytesAfterTheFrameAreIgnored) {
  const Bytes payload = Payload(12);
  Bytes datagram = Encode(Command(4, kCmdIdStatePush, payload));
  datagram.insert(datagram.end(), {0xDE, 0xAD, 0xBE, 0xEF});
  ProtocolCommand got;
  std::string printed;
  ASSERT_TRUE(Parse(datagram, got, printed));
  EXPECT_EQ(got.data_len, 12);
  EXPECT_EQ(Bytes(got.data, got.data + got.data_len), payload);
}

// DecodeFrame trusts the checksums to the caller but never the length field.
TEST_F(SdkProtocolTest, DecodeIgnoresChecksumsButNotTheLength) {
  Bytes frame = Encode(Command(6, kCmdIdStatePush, Payload(8)));
  frame[18] ^= 0xFF;
  frame[25] ^= 0xFF;
  ProtocolCommand got;
  got.protocol = 9;
  ASSERT_TRUE(codec_->DecodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), got));
  EXPECT_EQ(got.protocol, 0);
  EXPECT_EQ(got.data_len, 8);

  for (uint16_t length : {uint16_t{0}, uint16_t{23}, static_cast<uint16_t>(frame.size() + 1)}) {
    SetLength(frame, length);
    EXPECT_FALSE(codec_->DecodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), got))
        << length;
  }
}

}  // namespace
}  // namespace kesto::lidar
