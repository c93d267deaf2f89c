#include "input/CifDocument.h"

#include <gemmi/cif.hpp>

namespace cavitas {

namespace cif = gemmi::cif;

struct TCifBlock::TImpl {
  cif::Document Document;
};

struct TCifTable::TImpl {
  std::shared_ptr<void> Owner;  // keeps the document alive
  cif::Table Table;
  TImpl(std::shared_ptr<void> owner, cif::Table table) : Owner(std::move(owner)), Table(table) {}
};

bool TCifTable::Ok() const { return impl_ && impl_->Table.ok(); }

std::size_t TCifTable::Rows() const { return Ok() ? impl_->Table.length() : 0; }

bool TCifTable::Has(int column) const {
  return Ok() && column >= 0 && static_cast<std::size_t>(column) < impl_->Table.positions.size() &&
         impl_->Table.positions[static_cast<std::size_t>(column)] >= 0;
}

std::string TCifTable::Raw(std::size_t row, int column) const {
  if (!Has(column)) return std::string();
  return impl_->Table[row][static_cast<std::size_t>(column)];
}

std::string TCifTable::Value(std::size_t row, int column) const {
  if (!Has(column)) return std::string();
  const std::string& raw = impl_->Table[row][static_cast<std::size_t>(column)];
  return cif::is_null(raw) ? std::string() : cif::as_string(raw);
}

TCifBlock::TCifBlock(const char* data, std::size_t size, const std::string& name) : impl_(std::make_shared<TImpl>()) {
  impl_->Document = cif::read_memory(data, size, name.c_str());
}

bool TCifBlock::HasBlock() const { return !impl_->Document.blocks.empty(); }

bool TCifBlock::HasTag(const std::string& tag) const {
  return HasBlock() && impl_->Document.blocks.front().find_values(tag).item() != nullptr;
}

TCifTable TCifBlock::Find(const std::string& prefix, const std::vector<std::string>& tags) const {
  TCifTable table;
  if (HasBlock()) table.impl_ = std::make_shared<TCifTable::TImpl>(impl_, impl_->Document.blocks.front().find(prefix, tags));
  return table;
}

std::vector<std::string> TCifBlock::Values(const std::string& tag) const {
  std::vector<std::string> out;
  if (!HasBlock()) return out;
  cif::Column c = impl_->Document.blocks.front().find_values(tag);
  for (const std::string& v : c) out.push_back(cif::is_null(v) ? std::string() : cif::as_string(v));
  return out;
}

std::string TCifBlock::FirstValue(const std::string& tag) const {
  if (!HasBlock()) return std::string();
  const std::string* v = impl_->Document.blocks.front().find_value(tag);
  return (v && !cif::is_null(*v)) ? cif::as_string(*v) : std::string();
}

}  // namespace cavitas
