#include "frame/CommandLine.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "frame/ExitCodes.h"
#include "frame/Parms.h"

namespace cavitas {

namespace {

constexpr std::array<TOptionEntry, 8> kOptions{{
    {"i", "FILE", "input structure, PDB or mmCIF, plain or gzip-compressed; - reads standard input (required)"},
    {"o", "FILE", "result file (required)"},
    {"rad", "SET", "radius set: protor (any case) selects PROTOR, anything else STOUTEN (default)"},
    {"ex", "X", "edge of the volume cubes, 0.0001 < X < 0.9 (default 0.2)"},
    {"l", "FILE", "log file of the run (default test.log)"},
    {"s", "FILE", "also write the structure cards (elements, hetero groups, atoms) with their CH-SUM"},
    {"j", "FILE", "also write the results as JSON: residues, atoms, cavities with area and volume"},
    {"p", "PREFIX", "also write viewer files PREFIX.pdb, PREFIX.pml (PyMOL), PREFIX.cxc (ChimeraX)"},
}};

std::string NameOf(const std::string& param) {
  const auto colon = param.find(':');
  return colon == std::string::npos ? param : param.substr(0, colon);
}

bool IsOption(const std::string& name) {
  return std::any_of(kOptions.begin(), kOptions.end(), [&](const TOptionEntry& o) { return name == o.Name; });
}

}  // namespace

std::span<const TOptionEntry> OptionTable() { return kOptions; }

const char* ProgramVersion() { return CAVITAS_VERSION; }

TCommandLine ParseCommandLine(const std::vector<std::string>& params) {
  TCommandLine c;
  if (params.empty()) return c;
  for (const std::string& p : params) {
    if (p == "--help" || p == "-h") {
      c.Action = TCommandLine::TAction::Help;
      return c;
    }
  }
  if (std::find(params.begin(), params.end(), "--version") != params.end()) {
    c.Action = TCommandLine::TAction::Version;
    return c;
  }

  bool found = false;
  bool hasInput = false, hasOutput = false;
  GetStringOption(params, "i", c.Input, hasInput);
  GetStringOption(params, "o", c.Output, hasOutput);
  GetStringOption(params, "rad", c.RadiusWord, found);
  GetStringOption(params, "ex", c.ExactnessText, found);
  GetStringOption(params, "l", c.LogFile, found);
  GetStringOption(params, "s", c.CardFile, found);
  GetStringOption(params, "j", c.JsonFile, found);
  GetStringOption(params, "p", c.ViewerPrefix, found);

  std::vector<std::string> seen;
  for (const std::string& p : params) {
    const std::string name = NameOf(p);
    if (p.find(':') == std::string::npos || !IsOption(name)) {
      c.Warnings.push_back("unknown parameter '" + p + "' ignored");
    } else if (p.size() == name.size() + 1) {
      c.Warnings.push_back("parameter '" + p + "' without a value ignored");
    } else if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
      std::string first;
      GetStringOption(params, name, first, found);
      c.Warnings.push_back("option " + name + ": given more than once; the first one (" + name + ":" + first +
                           ") is used");
    } else if (p.size() > name.size()) {
      seen.push_back(name);
    }
  }
  if (!hasInput || !hasOutput) {
    c.Action = TCommandLine::TAction::UsageError;
    c.Error = "both i:INPUT and o:RESULT are required";
    return c;
  }
  c.Action = TCommandLine::TAction::Run;
  return c;
}

std::string UsageText() {
  std::string text = std::string("cavitas ") + ProgramVersion() +
                     " - cavities, surfaces and volumes of a protein structure\n\n"
                     "usage: cavitas i:INPUT o:RESULT [rad:PROTOR|STOUTEN] [ex:EXACTNESS] [l:LOGFILE] "
                     "[s:CARDFILE]\n"
                     "               [j:JSONFILE] [p:PREFIX]\n"
                     "       cavitas --help | -h | --version\n\n"
                     "Options are name:value parameters without a dash; the first of a repeated option is used.\n";
  char line[256];
  for (const TOptionEntry& o : kOptions) {
    const std::string option = std::string(o.Name) + ":" + o.Value;
    std::snprintf(line, sizeof line, "  %-9s %s\n", option.c_str(), o.Meaning);
    text += line;
  }
  text +=
      "\nEvery output is written beside its final name and renamed into place when complete. A run\n"
      "that fails leaves no result, card, JSON or viewer file: one an earlier run left under those\n"
      "names is removed. A successful run prints a one-line summary on stdout.\n"
      "\nexit status:\n";
  for (const TExitCodeEntry& e : ExitCodeTable()) {
    std::snprintf(line, sizeof line, "  %3d  %s\n", ToInt(e.Code), e.Meaning);
    text += line;
  }
  return text;
}

std::string CommandLineText(const std::vector<std::string>& argv) {
  std::string text;
  for (const std::string& a : argv) {
    if (!text.empty()) text += ' ';
    const bool plain = !a.empty() && a.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                         "0123456789_-+=:,./@%") == std::string::npos;
    if (plain) {
      text += a;
      continue;
    }
    text += '\'';
    for (char ch : a) {
      if (ch == '\'')
        text += "'\\''";
      else
        text += ch;
    }
    text += '\'';
  }
  return text;
}

}  // namespace cavitas
