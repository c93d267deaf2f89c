#include <gtest/gtest.h>

#include "frame/Error.h"

#include "model/Protein.h"

namespace cavitas {
namespace {

std::unique_ptr<THetAtom> Het(float x, float y, float z, const char* name) {
  auto h = std::make_unique<THetAtom>();
  h->OwnedAtom = std::make_unique<TAtom>();
  h->Atom = h->OwnedAtom.get();
  h->Atom->X = x;
  h->Atom->Y = y;
  h->Atom->Z = z;
  h->AtomName = name;
  return h;
}

TEST(RemoveDuplicateAtoms, KeepsTheFirstOfCoincidingAtoms) {
  TMyCollection<THetAtom> list;
  list.push_back(Het(1, 2, 3, "A"));
  list.push_back(Het(5, 5, 5, "B"));
  list.push_back(Het(1, 2, 3, "C"));
  list.push_back(Het(1, 2, 3.0005f, "D"));  // 2.5e-7 squared: still a duplicate
  list.push_back(Het(1, 2, 3.01f, "E"));
  RemoveDuplicateAtoms(list);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]->AtomName, "A");
  EXPECT_EQ(list[1]->AtomName, "B");
  EXPECT_EQ(list[2]->AtomName, "E");
}

TEST(TProteinObject, DefaultsAndAtomSlots) {
  TProteinObject p;
  EXPECT_EQ(p.Status, TRunStatus::Good);
  EXPECT_EQ(p.Resolution, 50.0);
  EXPECT_EQ(p.ElementTable.size(), 1u);  // rows are made as they are written
  EXPECT_EQ(p.ElementRow(9000).ElementKind, TElementKind::Unset);
  EXPECT_EQ(p.ElementTable.size(), 9001u);
  EXPECT_EQ(p.NeighboursNear, nullptr);
  EXPECT_EQ(p.AtomAt(1), nullptr);
  p.PutAtom(3, std::make_unique<TAtom>());
  EXPECT_NE(p.AtomAt(3), nullptr);
  EXPECT_EQ(p.AtomAt(2), nullptr);
  p.PutAtom(108001, std::make_unique<TAtom>());  // beyond the old fixed table
  EXPECT_NE(p.AtomAt(108001), nullptr);
  EXPECT_EQ(p.AtomAt(108002), nullptr);
  EXPECT_EQ(p.AtomAt(-1), nullptr);  // a negative number is no row, not a huge one
  EXPECT_THROW(p.PutAtom(0, std::make_unique<TAtom>()), FatalError);
}

// Tables kept per atom: rows 0..count, none for a negative number or count.
TEST(AtomIndex, RowsOfPerAtomTables) {
  const std::vector<int> table(RowsFor(3));
  EXPECT_EQ(table.size(), 4u);
  EXPECT_EQ(RowsFor(-5), 1u);
  EXPECT_TRUE(HasRow(table, 3));
  EXPECT_FALSE(HasRow(table, 4));
  EXPECT_FALSE(HasRow(table, -1));
}

TEST(TProteinObject, FirstProblemWinsAndFatalAlwaysSets) {
  TProteinObject p;
  p.SetWarningStatus(TRunStatus::ChainInterrupted, "a");
  p.SetWarningStatus(TRunStatus::ResidueIgnored, "b");
  EXPECT_EQ(p.Status, TRunStatus::ChainInterrupted);
  p.SetFatalStatus("c");
  EXPECT_EQ(p.Status, TRunStatus::Failed);
  EXPECT_EQ(p.StatusText, "c");
  p.SetWarningStatus(TRunStatus::ResidueIgnored, "d");
  EXPECT_EQ(p.Status, TRunStatus::Failed);
}

TEST(TString, LongTextIsCutTo120) {
  EXPECT_EQ(TString(std::string(130, 'x')).Text.size(), 120u);
  EXPECT_EQ(TString("short").Text, "short");
}

}  // namespace
}  // namespace cavitas
