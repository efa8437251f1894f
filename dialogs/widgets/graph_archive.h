// The byte archive the graph classes serialise into: the framework's archive forms,
// little-endian.
//
//   integers   32-bit (and 16-bit for counts and tags), lowest byte first;
//   text       a length byte; or 0xFF and a 16-bit length; or 0xFF, 0xFFFF and a 32-bit
//              length, then the bytes (UTF-8);
//   count      16-bit; or 0xFFFF and a 32-bit count;
//   object     a class tag, then the object's own fields. The first object of a class writes
//              0xFFFF, the schema (16-bit), the class name as a 16-bit length and its bytes;
//              later objects of the same class write 0x8000 | the class's index. Classes and
//              objects share one index sequence starting at 1 (0 is a null object).
//
// Reading never runs past the bytes: a short or malformed archive sets the failed flag and the
// reader returns zeros from then on. Objects nest at most kGraphArchiveMaxNesting deep (a graph
// holds its series); deeper nesting is malformed.
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class KtGraphObject;

inline constexpr int kGraphArchiveMaxNesting = 16;

class GraphArchive {
 public:
  // A storing archive.
  GraphArchive() = default;
  // A loading archive over the bytes.
  explicit GraphArchive(std::vector<uint8_t> bytes) : loading_(true), bytes_(std::move(bytes)) {}

  bool IsStoring() const { return !loading_; }
  bool IsLoading() const { return loading_; }
  bool Failed() const { return failed_; }
  void SetFailed() { failed_ = true; }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

  void WriteU8(uint8_t v);
  void WriteU16(uint16_t v);
  void WriteI32(int32_t v);
  void WriteString(const QString& s);
  void WriteCount(uint32_t n);
  // Writes a run-time-class object (tag, then its Serialize); null writes tag 0.
  void WriteObject(KtGraphObject* object);

  uint8_t ReadU8();
  uint16_t ReadU16();
  int32_t ReadI32();
  QString ReadString();
  uint32_t ReadCount();
  // Reads an object written by WriteObject: a new object of the named class (the caller owns
  // it), or null on a null tag, an unknown class or malformed bytes (then Failed()).
  KtGraphObject* ReadObject();
  // Bytes not yet read.
  size_t Remaining() const { return bytes_.size() - pos_; }

 private:
  bool Take(size_t n);

  bool loading_ = false;
  bool failed_ = false;
  std::vector<uint8_t> bytes_;
  size_t pos_ = 0;
  uint32_t map_count_ = 1;
  int depth_ = 0;                                   // objects being read, one inside the other
  std::map<std::string, uint32_t> stored_classes_;  // name -> index (storing)
  std::map<uint32_t, std::string> loaded_classes_;  // index -> name (loading)
};

// The framework's object base of the graph classes: run-time class name, schema, archive.
class KtGraphObject {
 public:
  virtual ~KtGraphObject() = default;
  virtual const char* RuntimeClassName() const = 0;
  virtual uint16_t Schema() const { return 1; }
  virtual void Serialize(GraphArchive& ar) = 0;
};

// Dynamic creation by run-time class name ("KtGraphData", "KtGraphBase", "KtGraphPlot",
// "KtGraphBar"); null for any other name.
KtGraphObject* CreateGraphObject(const std::string& className);
