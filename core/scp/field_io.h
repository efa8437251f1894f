// Two-way field conversion: one call that writes a value when a block is encoded and reads it
// back when the block is decoded, so that a block's ConvertField can name each field once:
//
//   int MyBlock::ConvertField(int branch, int field, int direction,
//                             KT_RecordWriter* out, KT_RecordReader* in) {
//     KT_FieldIO io(direction, out, in);
//     if (branch == 1 && field == 1) return io.Text(device_);
//     if (branch == 1 && field == 2) return io.U8(baud_);
//     ...
//   }
//
// Fields with rules of their own (widths that depend on the peer version, setters that validate)
// use the writer and reader directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/scp/record_reader.h"
#include "core/scp/record_writer.h"

// Direction argument of the conversion operations.
enum ConvertDirection : int {
  CONVERT_DECODE = 0,  // from the record bytes into the block
  CONVERT_ENCODE = 1,  // from the block into the record bytes
};

class KT_FieldIO {
 public:
  KT_FieldIO(int direction, KT_RecordWriter* writer, KT_RecordReader* reader)
      : encode_(direction == CONVERT_ENCODE), writer_(writer), reader_(reader) {}

  bool Encoding() const { return encode_; }
  bool Decoding() const { return !encode_; }
  KT_RecordWriter* Writer() const { return writer_; }
  KT_RecordReader* Reader() const { return reader_; }

  // Each returns 1, or -1 when the conversion failed (or the needed writer or reader is null).
  int U8(uint8_t& v) {
    if (encode_) return writer_ ? writer_->Put8(v) : -1;
    return reader_ ? reader_->Get8(v) : -1;
  }
  int U16(uint16_t& v) {
    if (encode_) return writer_ ? writer_->Put16(v) : -1;
    return reader_ ? reader_->Get16(v) : -1;
  }
  int U32(uint32_t& v) {
    if (encode_) return writer_ ? writer_->Put32(v) : -1;
    return reader_ ? reader_->Get32(v) : -1;
  }
  int I32(int32_t& v) {
    if (encode_) return writer_ ? writer_->Put32(static_cast<uint32_t>(v)) : -1;
    return reader_ ? reader_->Get32(v) : -1;
  }
  int Text(std::optional<std::string>& t) {
    if (encode_) return writer_ ? writer_->PutText(t) : -1;
    return reader_ ? reader_->GetText(t) : -1;
  }

 private:
  bool encode_;
  KT_RecordWriter* writer_;
  KT_RecordReader* reader_;
};
