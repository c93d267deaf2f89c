#pragma once
// mmCIF text as tables of values, parsed by gemmi. This header and its source
// hold to C++17, the language the parser's headers are written for, so that
// every compiler builds them whatever the project's own language level.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace cavitas {

// The values of some tags of one category, row by row.
class TCifTable {
 public:
  bool Ok() const;  // every required tag was found
  std::size_t Rows() const;
  bool Has(int column) const;  // an optional tag that the file has
  // The value with quotes removed; empty when the tag is absent or the value
  // is "?" (unknown) or "." (not applicable).
  std::string Value(std::size_t row, int column) const;
  // The value as written (quotes kept); empty when the tag is absent.
  std::string Raw(std::size_t row, int column) const;

 private:
  friend class TCifBlock;
  struct TImpl;
  std::shared_ptr<TImpl> impl_;
};

// The first data block of an mmCIF text.
class TCifBlock {
 public:
  // Throws std::runtime_error with the parser's message when the text is not CIF.
  TCifBlock(const char* data, std::size_t size, const std::string& name);
  bool HasBlock() const;
  bool HasTag(const std::string& tag) const;
  // The tags (after `prefix`) of one loop or of single pairs; a tag written
  // "?name" is optional. Not Ok() when a required tag is missing.
  TCifTable Find(const std::string& prefix, const std::vector<std::string>& tags) const;
  // Every value of a tag, in order (loop or single pair); empty for nulls.
  std::vector<std::string> Values(const std::string& tag) const;
  std::string FirstValue(const std::string& tag) const;

 private:
  struct TImpl;
  std::shared_ptr<TImpl> impl_;
};

}  // namespace cavitas
