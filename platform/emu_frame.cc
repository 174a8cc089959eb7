#include "platform/emu_frame.h"

#include <cstdlib>

namespace kvx {

namespace {

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t GetU32(const char* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  return v;
}

}  // namespace

std::string EncodeFrame(const Fields& fields) {
  std::string body;
  PutU32(body, static_cast<uint32_t>(fields.size()));
  for (const std::string& f : fields) {
    PutU32(body, static_cast<uint32_t>(f.size()));
    body += f;
  }
  std::string frame;
  PutU32(frame, static_cast<uint32_t>(body.size()));
  return frame + body;
}

uint32_t FrameBodySize(const char head[4]) {
  const uint32_t size = GetU32(head);
  return size < 4 || size > kEmuFrameLimit ? 0 : size;
}

bool DecodeFrameBody(const std::string& body, Fields& fields) {
  fields.clear();
  if (body.size() < 4) return false;
  const uint32_t count = GetU32(body.data());
  size_t at = 4;
  for (uint32_t i = 0; i < count; ++i) {
    if (body.size() - at < 4) return false;
    const uint32_t len = GetU32(body.data() + at);
    at += 4;
    if (body.size() - at < len) return false;
    fields.emplace_back(body, at, len);
    at += len;
  }
  return at == body.size();
}

std::string NumberField(int64_t value) { return std::to_string(value); }

int64_t FieldNumber(const std::string& field) { return std::strtoll(field.c_str(), nullptr, 0); }

Fields ErrorReply(int error) { return {"err", NumberField(error)}; }

bool ReplyOk(const Fields& reply, int& error) {
  if (!reply.empty() && reply[0] == "ok") return true;
  error = reply.size() >= 2 ? static_cast<int>(FieldNumber(reply[1])) : kErrorGenFailure;
  return false;
}

}  // namespace kvx
