// The record reader on raw text: record names, fixed columns cut short, line
// ends, numbers and the preliminary passes.
#include <gtest/gtest.h>

#include <random>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "input/InputTestSupport.h"
#include "input/PdbReader.h"

namespace cavitas::testing {
namespace {

// A protein whose log receives the reader's reports, with line mode from the text.
class PdbReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    protein_.SetLogFile(dir_.File("reader.log"));
    protein_.Context.Log = &protein_;
  }

  // Decodes every record of text up to kind 8 and returns their kinds.
  std::vector<int> Kinds(const std::string& bytes, std::vector<TPdbLine>* lines = nullptr) {
    text_.Bytes = bytes;
    DetectLineMode(protein_, text_);
    CountModels(protein_, text_);
    TPdbRecordReader reader(protein_, text_);
    std::vector<int> kinds;
    TPdbLine line;
    for (int guard = 0; guard < 100000; ++guard) {
      reader.ReadPdbRecord(line);
      kinds.push_back(line.Kind);
      if (lines) lines->push_back(line);
      if (line.Kind == kEndRecord) break;
    }
    return kinds;
  }
  std::string Log() { return ReadFile(protein_.LogFileName); }

  TempDir dir_;
  TProteinObject protein_;
  TInputText text_;
};

TEST_F(PdbReaderTest, ReadPdbRecord_RecordNames) {
  EXPECT_EQ(Kinds("no upper-case letter here 123\n"), std::vector<int>{kEndRecord});
  EXPECT_EQ(Kinds(""), std::vector<int>{kEndRecord});
  // "END" cut by the line end matches nothing; the end of the text still ends the read.
  EXPECT_EQ(Kinds("END\n"), (std::vector<int>{kOtherRecord, kEndRecord}));
  EXPECT_EQ(Kinds("END   \nATOM  "), std::vector<int>{kEndRecord});
  EXPECT_EQ(Kinds("TER   \nTER\nENDMDL\nMODEL \nJUNK  x\n"),
            (std::vector<int>{kTerRecord, kOtherRecord, kEndMdlRecord, kModelRecord, kOtherRecord, kEndRecord}));
  // Leading blanks and lower-case text are skipped up to the first capital letter.
  EXPECT_EQ(Kinds("  \t  xyz TER   \n"), (std::vector<int>{kTerRecord, kEndRecord}));
}

TEST_F(PdbReaderTest, ReadPdbRecord_TextRecordsArePaddedTo128) {
  std::vector<TPdbLine> lines;
  Kinds("HEADER    SHORT\n", &lines);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].Text.size(), 128u);
  EXPECT_EQ(lines[0].Text.substr(0, 15), "HEADER    SHORT");
  EXPECT_EQ(lines[0].Text[126], ' ');
  EXPECT_EQ(lines[0].Text[127], '.');
  ASSERT_EQ(protein_.HeaderLines.size(), 1u);
  EXPECT_EQ(protein_.HeaderLines[0]->Text, "HEADER    SHORT" + std::string(105, ' '));

  // A line of 10 000 characters: the text keeps 128 of them, the rest (with
  // capital letters in it) never becomes a record.
  lines.clear();
  const std::string tail = std::string(200, 'x') + "ATOM      1  N   ALA A   1" + std::string(9774, 'Y');
  Kinds("COMPND" + tail + "\nTER   \n", &lines);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].Text, "COMPND" + std::string(122, 'x'));
  EXPECT_EQ(lines[1].Kind, kTerRecord);
}

TEST_F(PdbReaderTest, ReadPdbRecord_AtomFields) {
  std::vector<TPdbLine> lines;
  Kinds("ATOM     12  CA BLYS B  45A     -1.250  12.5  1234.567  0.50 33.10           C\n", &lines);
  ASSERT_EQ(lines.size(), 2u);
  const TPdbLine& a = lines[0];
  EXPECT_EQ(a.Kind, kAtomRecord);
  EXPECT_EQ(a.Serial, 12);
  EXPECT_EQ(a.AtomName, " CA ");
  EXPECT_EQ(a.AltLoc, 'B');
  EXPECT_EQ(a.ResidueName, "LYS ");
  EXPECT_EQ(a.OneLetter, 'K');
  EXPECT_EQ(a.ResidueId, "  45AB");
  EXPECT_FLOAT_EQ(a.X, -1.25f);
  EXPECT_FLOAT_EQ(a.Y, 12.5f);  // "  12.5  ": blanks around the number
  EXPECT_FLOAT_EQ(a.Z, 1234.567f);
  EXPECT_FLOAT_EQ(a.Occupancy, 0.5f);
  EXPECT_FLOAT_EQ(a.BFactor, 33.1f);
}

TEST_F(PdbReaderTest, ReadPdbRecord_LineEndingEarlyLeavesOccupancyAndBFactorZero) {
  std::vector<TPdbLine> lines;
  Kinds("ATOM      1  N   ALA A   1       1.000   2.000   3.000  0.7\r\nATOM      2  C   ALA A   1       1.000   2.000   3.000",
        &lines);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].Kind, kAtomRecord);
  EXPECT_FLOAT_EQ(lines[0].Occupancy, 0.7f);
  EXPECT_FLOAT_EQ(lines[0].BFactor, 0.0f);
  EXPECT_EQ(lines[1].Kind, kAtomRecord);  // no final line end
  EXPECT_FLOAT_EQ(lines[1].Z, 3.0f);
  EXPECT_FLOAT_EQ(lines[1].Occupancy, 0.0f);
}

TEST_F(PdbReaderTest, ReadPdbRecord_CoordinateThatIsNotANumberIsReported) {
  const std::string cases[] = {"   1x.5 ", "        ", "  1.2.3 ", "     nan", "   1,500", std::string("  1\0.5  ", 8)};
  for (const std::string& field : cases) {
    SCOPED_TRACE(field);
    protein_.ClearLog();
    std::vector<TPdbLine> lines;
    Kinds("REMARK\nATOM      1  N   ALA A   1    " + field + "   2.000   3.000  1.00 10.00\nTER   \n", &lines);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].Kind, kOtherRecord);
    EXPECT_EQ(lines[2].Kind, kTerRecord);
    EXPECT_EQ(Log(), "line 2: ATOM record ignored, coordinate \"" + field + "\" is not a number\r\n");
  }
  // The line cut inside the coordinates: the missing field is no number either.
  protein_.ClearLog();
  EXPECT_EQ(Kinds("ATOM      1  N   ALA A   1       1.000   2.0"),
            (std::vector<int>{kOtherRecord, kEndRecord}));
  EXPECT_EQ(Log(), "line 1: ATOM record ignored, coordinate \"\" is not a number\r\n");
}

TEST_F(PdbReaderTest, ReadPdbRecord_SSBondIdentities) {
  std::vector<TPdbLine> lines;
  Kinds("SSBOND   1 CYS A    6    CYS B  127A                         1555   1555  2.03\nSSBOND\n", &lines);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].Bond1, "   6 A");
  EXPECT_EQ(lines[0].Bond2, " 127AB");
  EXPECT_EQ(lines[1].Kind, kSSBondRecord);  // cut short: blank identities
  EXPECT_EQ(lines[1].Bond1, "      ");
}

TEST_F(PdbReaderTest, ReadPdbRecord_HetatmDecodesLikeAtomWithSegmentAndElement) {
  std::vector<TPdbLine> lines;
  Kinds("HETATM    4 ZN    ZN A 201      12.000  10.000  10.000  0.50 20.00      SEG1ZN2+\n"
        "ATOM      5 HG21 ILE   301      13.000  10.000  10.000  1.00 10.00\n",
        &lines);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].Kind, kHetAtmRecord);
  EXPECT_EQ(lines[0].AtomName, "ZN  ");
  EXPECT_EQ(lines[0].ResidueName, " ZN ");
  EXPECT_EQ(lines[0].ResidueId, " 201 A");
  EXPECT_FLOAT_EQ(lines[0].Occupancy, 0.5f);
  EXPECT_EQ(lines[0].Segment, "SEG1");
  EXPECT_EQ(lines[0].Element, "ZN");
  EXPECT_EQ(lines[1].Segment, "    ");  // cut short: blank
  EXPECT_EQ(lines[1].Element, "  ");
  EXPECT_TRUE(protein_.HetAtoms.empty());  // storing is the driver's business (RecordRules.h)
}

TEST_F(PdbReaderTest, ReadPdbRecord_RecordsOfUnselectedModelsAreSkipped) {
  const std::string text =
      "ATOM      1  N   ALA A   1       1.000   2.000   3.000\n"
      "MODEL        2\n"
      "ATOM      2  N   ALA A   2       1.000   2.000   3.000\n"
      "HETATM    3  O   HOH A 101      10.000  10.000  10.000\n"
      "ENDMDL\n"
      "MODEL        1  extra\n"
      "ATOM      4  N   ALA A   3       1.000   2.000   3.000\n"
      "ENDMDL\n"
      "ATOM      5  N   ALA A   4       1.000   2.000   3.000\n";
  EXPECT_EQ(Kinds(text), (std::vector<int>{kAtomRecord, kModelRecord, kOtherRecord, kOtherRecord, kEndMdlRecord,
                                           kModelRecord, kAtomRecord, kEndMdlRecord, kOtherRecord, kEndRecord}));
  EXPECT_TRUE(protein_.MultiModel);
  EXPECT_TRUE(protein_.Waters.empty());
}

TEST_F(PdbReaderTest, DetectLineMode_FirstLineLengthAndLineCount) {
  struct Case {
    std::string Text;
    bool LineMode;
    int Lines;
  };
  const Case cases[] = {
      {"", true, 0},
      {"A\nB\n", true, 2},
      {"A\r\nB\r\n", true, 2},
      {"A\nB", true, 2},            // no final line end
      {"A\rB\rC\r", true, 3},       // lone CR ends lines in line mode
      {"A\n\n\nB\n", true, 4},
      {std::string(149, 'x') + "\nB\n", true, 2},
      {std::string(150, 'x') + "\nB\rC\n", false, 2},  // without line mode only LF ends a line
      {std::string(150, 'x') + "\r\nB\r\n", false, 2},
      {std::string(10000, '\0') + "\n", false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text.substr(0, 20));
    text_.Bytes = c.Text;
    DetectLineMode(protein_, text_);
    EXPECT_EQ(protein_.LineMode, c.LineMode);
    EXPECT_EQ(protein_.LineCount, c.Lines);
  }
}

TEST_F(PdbReaderTest, CountModels_TwoModelRecordsMakeAMultiModelFile) {
  text_.Bytes = "MODEL        1\nENDMDL\n";
  CountModels(protein_, text_);
  EXPECT_FALSE(protein_.MultiModel);
  text_.Bytes = "MODEL        1\r\nENDMDL\r\nMODEL        2\r\n REMARK MODEL \nMODEL";
  CountModels(protein_, text_);
  EXPECT_TRUE(protein_.MultiModel);
}

TEST_F(PdbReaderTest, ReadPdbRecord_BinaryNoiseNeverReadsPastTheText) {
  std::mt19937 random(12345);
  const std::string pieces[] = {"ATOM  ", "HETATM", "HEADER", "SSBOND", "MODEL ", "ENDMDL", "REMARK", "TER   ",
                                "  12.5  ", "\r\n", "\n", "\r", std::string(1, '\0'), " HOH ", " CA ", "RESOLUTION."};
  for (int round = 0; round < 40; ++round) {
    std::string bytes;
    const int n = static_cast<int>(random() % 4000);
    for (int k = 0; k < n; ++k) {
      if (random() % 3 == 0) {
        bytes += pieces[random() % std::size(pieces)];
      } else {
        bytes += static_cast<char>(random() % 256);
      }
    }
    protein_.HetAtoms.clear();
    protein_.Waters.clear();
    const std::vector<int> kinds = Kinds(bytes);
    EXPECT_EQ(kinds.back(), kEndRecord);
    EXPECT_LE(kinds.size(), bytes.size() + 1);
  }
}

TEST(ParseReal, AcceptsDecimalNumbersOnly) {
  const std::pair<const char*, double> good[] = {{"  12.5  ", 12.5}, {"-0.5", -0.5}, {"+1.5", 1.5}, {".5", 0.5},
                                                 {"5.", 5.0},        {"1e3", 1000},  {"7", 7}};
  for (const auto& [text, value] : good) {
    double v = -99;
    EXPECT_TRUE(ParseReal(text, v)) << text;
    EXPECT_DOUBLE_EQ(v, value) << text;
  }
  const char* bad[] = {"", "   ", "abc", "1.2.3", "nan", "inf", "1,5", "0x1p3", "1e", "-", ".", "1 2", "--1"};
  for (const char* text : bad) {
    double v = -99;
    EXPECT_FALSE(ParseReal(text, v)) << text;
    EXPECT_DOUBLE_EQ(v, -99) << text;
  }
}

TEST_F(PdbReaderTest, ReadIntField_StopsAtTheLineEnd) {
  text_.Bytes = "  123 x\n 45\n";
  TTextCursor cursor(text_.Bytes, true);
  EXPECT_EQ(ReadIntField(cursor, 5), 123);
  EXPECT_EQ(ReadIntField(cursor, 5), 0);  // " x": not a number
  cursor.SkipLine();
  EXPECT_EQ(ReadIntField(cursor, 6), 45);
  EXPECT_TRUE(cursor.AtEol());
}

TEST(ScanNumber, TakesTheFirstBlankDelimitedToken) {
  struct Case {
    std::string Text;
    int From, To, Error;
    double Value;
  };
  const Case cases[] = {
      {"RESOLUTION. 1.80 ANGSTROMS.", 12, 31, 0, 1.8},
      {"RESOLUTION.    2.5", 12, 31, 0, 2.5},
      {"RESOLUTION. NOT APPLICABLE.", 12, 31, 1, 0},
      {"RESOLUTION.          ", 12, 31, 1, 0},
      {"RESOLUTION. 1.80", 12, 14, 0, 1.0},  // cut at position 14: "1." is still a number
      {"abc", 10, 20, 1, 0},
  };
  for (const Case& c : cases) {
    int error = -1;
    double value = 0;
    ScanNumber(c.Text, c.From, c.To, error, value);
    EXPECT_EQ(error != 0, c.Error != 0) << c.Text;
    if (c.Error == 0) {
      EXPECT_DOUBLE_EQ(value, c.Value) << c.Text;
    }
  }
}

}  // namespace
}  // namespace cavitas::testing

namespace cavitas::testing {
namespace {

TEST(CheckCoordinate, NumbersWithinTheModelsRangeOnly) {
  struct Case {
    const char* field;
    TCoordinateCheck check;
  };
  const Case cases[] = {{" 9999.99", TCoordinateCheck::Ok},        {"-9999.99", TCoordinateCheck::Ok},
                        {" 3045.12", TCoordinateCheck::Ok},        {"10000.00", TCoordinateCheck::OutOfRange},
                        {"215043.0", TCoordinateCheck::OutOfRange}, {"-93104.0", TCoordinateCheck::OutOfRange},
                        {"  1e39  ", TCoordinateCheck::OutOfRange}, {" -1e300 ", TCoordinateCheck::OutOfRange},
                        {"   nan  ", TCoordinateCheck::NotANumber}, {"   inf  ", TCoordinateCheck::NotANumber},
                        {"        ", TCoordinateCheck::NotANumber}};
  for (const Case& c : cases) {
    float v = -1;
    EXPECT_EQ(CheckCoordinate(c.field, v), c.check) << c.field;
    if (c.check != TCoordinateCheck::Ok) {
      EXPECT_EQ(v, -1) << c.field;
    }
  }
}

TEST_F(PdbReaderTest, ReadPdbRecord_CoordinateBeyondTheRangeIsReportedWithItsLine) {
  const std::string text = "REMARK\nATOM      1  CA  ALA A   1    215043.0   1.000   2.000  1.00 20.00\n";
  std::vector<TPdbLine> lines;
  Kinds(text, &lines);
  EXPECT_EQ(lines[1].Kind, kOtherRecord);
  EXPECT_EQ(Log(), "line 2: ATOM record ignored, coordinate \"215043.0\" lies outside -10000..10000\r\n");
}

TEST_F(PdbReaderTest, ReadPdbRecord_ControlCharactersInHeaderAndNamesBecomeBlanks) {
  std::string text = "HEADER    A\tB" + std::string(1, '\0') + "C\x7f" + "D\n" + AtomLine(1, " CA ", "ALA", 'A', 7, 1, 2, 3);
  const std::size_t name = text.find(" CA ");
  text[name + 2] = '\x01';  // in the atom name
  text[name + 9] = '\0';    // the chain
  std::vector<TPdbLine> lines;
  Kinds(text, &lines);
  ASSERT_EQ(protein_.HeaderLines.size(), 1u);
  EXPECT_EQ(protein_.HeaderLines[0]->Text.substr(0, 16), "HEADER    A B C ");
  EXPECT_EQ(lines[1].AtomName, " C  ");
  EXPECT_EQ(lines[1].ResidueId, "   7  ");
  EXPECT_EQ(lines[1].Line, 2);
}

TEST(LoadInputText, RefusesTextBeyondItsLimits) {
  TempDir dir;
  WriteFile(dir.File("ten.pdb"), "0123456789\n");
  EXPECT_EQ(LoadInputText(dir.File("ten.pdb"), {11, 1}).Bytes.size(), 11u);
  struct Case {
    const char* file;
    TInputLimits limits;
    const char* message;
  };
  const Case cases[] = {{"ten.pdb", {10, 100}, "is larger than the limit of 10 bytes"},
                        {"ten.pdb", {100, 0}, "has more than the limit of 0 lines"},
                        {"/dev/zero", {1 << 20, 100}, "is larger than the limit of 1048576 bytes"}};
  for (const Case& c : cases) {
    const std::string path = c.file[0] == '/' ? c.file : dir.File(c.file);
    try {
      LoadInputText(path, c.limits);
      ADD_FAILURE() << c.file << " read";
    } catch (const IoError& e) {
      EXPECT_NE(std::string(e.what()).find(path + " " + c.message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace cavitas::testing
