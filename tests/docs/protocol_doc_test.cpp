// Keeps the tables of docs/protocol.md in step with the code: every error code and
// every diagnostic message that tovrin or selvane can write is in the doc, and the
// doc lists nothing else.
//
// From the source: every string literal that looks like an error code (lower snake
// case) or a sentence (a capital letter, then a small one), and every literal that
// opens the first argument of a writer or of one of its wrappers. A message built
// from pieces ("Loading model: " + path) counts by its literal pieces; a printf
// conversion and everything between pieces is a variable part.
// From the doc: the rows of every table whose first two columns are "program" and
// "error code", "message" or "description"; <...> in a row marks a variable part.
//
// PROTOCOL_DOC_ROOT names another tree to check (to see the test fail on a copy).
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files.h"

namespace {

namespace fs = std::filesystem;

const char kVariable = '\x03';  // one variable part, in a normalised message

struct SourceFile {
  std::string program;  // "tovrin" or "selvane"
  std::string name;
  std::string code;
};

struct DocEntry {
  std::string program;
  std::string text;  // with its <...> parts
};

// A message of the source: its first literal, whether a variable follows it, and the
// literals that follow it in the same statement.
struct Message {
  std::string program;
  std::string where;
  std::string text;
  bool continued = false;
  std::vector<std::string> pieces;
};

struct Lexed {
  std::string skeleton;  // the code without comments, each literal as \x01N\x02
  std::vector<std::string> literals;
};

char decodeEscape(const std::string& code, size_t& i) {
  const char c = code[i];
  switch (c) {
    case 'n': return '\n';
    case 't': return '\t';
    case 'r': return '\r';
    case '0': return '\0';
    case 'x': {
      size_t end = i + 1;
      while (end < code.size() && end < i + 3 && std::isxdigit(static_cast<unsigned char>(code[end]))) ++end;
      const char value = static_cast<char>(std::stoi(code.substr(i + 1, end - i - 1), nullptr, 16));
      i = end - 1;
      return value;
    }
    default: return c;  // \" \\ \' and the rest stand for themselves here
  }
}

void addLiteral(Lexed& lexed, const std::string& text) {
  // Adjacent literals ("a" "b") are one literal.
  const size_t end = lexed.skeleton.find_last_not_of(" \t\n");
  if (end != std::string::npos && lexed.skeleton[end] == '\x02') {
    lexed.literals.back() += text;
    lexed.skeleton.erase(end + 1);
    return;
  }
  lexed.skeleton += '\x01' + std::to_string(lexed.literals.size()) + '\x02';
  lexed.literals.push_back(text);
}

Lexed lex(const std::string& code) {
  Lexed lexed;
  size_t i = 0;
  bool lineStart = true;
  while (i < code.size()) {
    const char c = code[i];
    const size_t lineText = lineStart ? code.find_first_not_of(" \t", i) : std::string::npos;
    if (lineText != std::string::npos && code.compare(lineText, 8, "#include") == 0) {
      i = code.find('\n', i);
      if (i == std::string::npos) break;
      continue;
    }
    lineStart = c == '\n';
    if (code.compare(i, 2, "//") == 0) {
      i = code.find('\n', i);
      if (i == std::string::npos) break;
    } else if (code.compare(i, 2, "/*") == 0) {
      i = code.find("*/", i);
      if (i == std::string::npos) break;
      i += 2;
    } else if (code.compare(i, 2, "R\"") == 0 &&
               (i == 0 || !std::isalnum(static_cast<unsigned char>(code[i - 1])))) {
      const size_t open = code.find('(', i);
      const std::string close = ")" + code.substr(i + 2, open - i - 2) + "\"";
      const size_t end = code.find(close, open);
      addLiteral(lexed, code.substr(open + 1, end - open - 1));
      i = end + close.size();
    } else if (c == '"') {
      std::string text;
      for (++i; i < code.size() && code[i] != '"'; ++i) {
        if (code[i] == '\\') {
          ++i;
          text += decodeEscape(code, i);
        } else {
          text += code[i];
        }
      }
      addLiteral(lexed, text);
      ++i;
    } else if (c == '\'') {
      for (++i; i < code.size() && code[i] != '\''; ++i) {
        if (code[i] == '\\') ++i;
      }
      lexed.skeleton += "' '";
      ++i;
    } else {
      lexed.skeleton += c;
      ++i;
    }
  }
  return lexed;
}

// The writers of both programs and the wrappers that take a message or a code first.
const std::regex kWriterCall(
    "\\b(debug|writeDiagnostic|writeError|writeErrorEvent|errorEventLine|fail|failStartUp|"
    "reportLibraryAbortAs)"
    "\\s*\\(\\s*(std::string\\s*\\(\\s*)?\\x01(\\d+)\\x02");
const std::regex kCodeLike("[a-z][a-z0-9]*(_[a-z0-9]+)+(: )?");
const std::regex kSentenceLike("[A-Z][a-z].*");
const std::regex kPrintfConversion("%[-+ #0]*[0-9]*(\\.[0-9]+)?(hh|h|ll|l|z|j|t|L)?[diouxXeEfgGcsp]");

std::vector<Message> messagesOf(const SourceFile& file) {
  const Lexed lexed = lex(file.code);
  std::vector<bool> isMessage(lexed.literals.size(), false);
  for (size_t k = 0; k < lexed.literals.size(); ++k) {
    isMessage[k] =
        std::regex_match(lexed.literals[k], kCodeLike) || std::regex_match(lexed.literals[k], kSentenceLike);
  }
  for (std::sregex_iterator it(lexed.skeleton.begin(), lexed.skeleton.end(), kWriterCall), end; it != end;
       ++it) {
    isMessage[std::stoul((*it)[3])] = true;
  }

  std::vector<Message> messages;
  for (size_t k = 0; k < lexed.literals.size(); ++k) {
    if (!isMessage[k]) continue;
    Message message;
    message.program = file.program;
    message.where = file.name;
    message.text = lexed.literals[k];
    const std::string marker = '\x01' + std::to_string(k) + '\x02';
    size_t at = lexed.skeleton.find(marker) + marker.size();
    const size_t next = lexed.skeleton.find_first_not_of(" \t\n)", at);
    message.continued = next != std::string::npos && lexed.skeleton[next] == '+';
    const size_t statementEnd = lexed.skeleton.find_first_of(";{}", at);
    while (message.continued) {
      const size_t open = lexed.skeleton.find('\x01', at);
      if (open == std::string::npos || open > statementEnd) break;
      const size_t close = lexed.skeleton.find('\x02', open);
      message.pieces.push_back(lexed.literals[std::stoul(lexed.skeleton.substr(open + 1, close - open - 1))]);
      at = close + 1;
    }
    messages.push_back(message);
  }
  return messages;
}

std::string normalisedDocText(const std::string& text) {
  return std::regex_replace(text, std::regex("<[^>]*>"), std::string(1, kVariable));
}

bool matches(const Message& message, const DocEntry& entry) {
  if (message.program != entry.program) return false;
  const std::string doc = normalisedDocText(entry.text);
  const std::string source = std::regex_replace(message.text, kPrintfConversion, std::string(1, kVariable));
  if (!message.continued) return doc == source;
  // A variable part follows the first literal; the other pieces come later, in order.
  if (doc.compare(0, source.size(), source) != 0 || doc.size() <= source.size() ||
      doc[source.size()] != kVariable)
    return false;
  size_t at = entry.text.find(message.text);
  if (at == std::string::npos) return false;
  at += message.text.size();
  for (const std::string& piece : message.pieces) {
    at = entry.text.find(piece, at);
    if (at == std::string::npos) return false;
    at += piece.size();
  }
  return true;
}

struct Mismatches {
  std::vector<std::string> undocumented;  // in the code, not in the doc
  std::vector<std::string> unwritten;     // in the doc, not in the code
};

Mismatches compare(const std::vector<SourceFile>& files, const std::vector<DocEntry>& entries) {
  std::vector<Message> messages;
  for (const SourceFile& file : files) {
    for (Message& m : messagesOf(file)) messages.push_back(std::move(m));
  }
  Mismatches result;
  std::vector<bool> documented(entries.size(), false);
  for (const Message& message : messages) {
    bool found = false;
    for (size_t e = 0; e < entries.size(); ++e) {
      if (matches(message, entries[e])) found = documented[e] = true;
    }
    if (!found) result.undocumented.push_back(message.where + ": \"" + message.text + "\"");
  }
  for (size_t e = 0; e < entries.size(); ++e) {
    if (!documented[e]) result.unwritten.push_back(entries[e].program + ": " + entries[e].text);
  }
  return result;
}

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" ");
  const size_t last = text.find_last_not_of(" ");
  return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

std::string unquoted(const std::string& cell) {
  if (cell.size() >= 2 && cell.front() == '`' && cell.back() == '`') return cell.substr(1, cell.size() - 2);
  return cell;
}

std::vector<std::string> cellsOf(const std::string& row) {
  std::vector<std::string> cells;
  size_t start = 1;
  for (size_t bar; (bar = row.find('|', start)) != std::string::npos; start = bar + 1) {
    cells.push_back(trimmed(row.substr(start, bar - start)));
  }
  return cells;
}

std::vector<DocEntry> docEntries(const std::string& doc) {
  std::vector<DocEntry> entries;
  bool inTable = false;
  for (const std::string& line : test_support::splitLines(doc)) {
    if (line.empty() || line[0] != '|') {
      inTable = false;
      continue;
    }
    const std::vector<std::string> cells = cellsOf(line);
    if (cells.size() < 2) continue;
    if (cells[0] == "program") {
      inTable = cells[1] == "error code" || cells[1] == "message" || cells[1] == "description";
    } else if (inTable && cells[0].find("---") == std::string::npos) {
      entries.push_back({unquoted(cells[0]), unquoted(cells[1])});
    }
  }
  return entries;
}

std::string root() {
  const char* other = std::getenv("PROTOCOL_DOC_ROOT");
  return other != nullptr ? other : SOURCE_ROOT;
}

std::vector<SourceFile> programSources(const std::string& top) {
  std::vector<SourceFile> files;
  const std::pair<const char*, const char*> programs[] = {{"offline", "tovrin"}, {"streaming", "selvane"}};
  for (const auto& [folder, program] : programs) {
    for (const auto& entry : fs::recursive_directory_iterator(top + "/" + folder)) {
      const fs::path& path = entry.path();
      if (path.extension() != ".cpp" && path.extension() != ".h") continue;
      // The scripted recognizer is built only into the test program selvane-scripted.
      if (path.filename() == "scripted_recognizer.cpp") continue;
      files.push_back({program, fs::relative(path, top).string(), test_support::readFile(path.string())});
    }
  }
  return files;
}

TEST(ProtocolDoc, ListsEveryErrorCodeAndDiagnosticOfBothProgramsAndNothingElse) {
  const std::vector<DocEntry> entries = docEntries(test_support::readFile(root() + "/docs/protocol.md"));
  ASSERT_FALSE(entries.empty()) << "no checked table found in docs/protocol.md";
  for (const DocEntry& entry : entries) {
    EXPECT_TRUE(entry.program == "tovrin" || entry.program == "selvane")
        << entry.program << ": " << entry.text;
  }
  const Mismatches mismatches = compare(programSources(root()), entries);
  EXPECT_EQ(mismatches.undocumented, std::vector<std::string>{})
      << "written by the code, missing from the doc";
  EXPECT_EQ(mismatches.unwritten, std::vector<std::string>{}) << "in the doc, written by no code";
}

// The checker itself, on small pieces of code: each row must find exactly its faults.
struct CheckerRow {
  const char* name;
  std::string code;  // a file of selvane
  std::vector<DocEntry> doc;
  std::vector<std::string> undocumented;
  std::vector<std::string> unwritten;
};

TEST(ProtocolDoc, CheckerFindsWhatIsMissingOnEitherSide) {
  const CheckerRow rows[] = {
      {"documented line", "debug(\"Model loaded\");", {{"selvane", "Model loaded"}}, {}, {}},
      {"new sentence", "debug(\"New line\");", {}, {"f.cpp: \"New line\""}, {}},
      {"new code", "writeError(\"new_code\");", {}, {"f.cpp: \"new_code\""}, {}},
      {"lower-case message in a writer", "debug(\"quiet line\");", {}, {"f.cpp: \"quiet line\""}, {}},
      {"code in a wrapper", "failStartUp(\"odd\");", {}, {"f.cpp: \"odd\""}, {}},
      {"comments and includes",
       "#include \"Header.h\"\n// debug(\"Not code\");\n/* \"Nor_this\" */",
       {},
       {},
       {}},
      {"variable part", "debug(\"Loading: \" + path);", {{"selvane", "Loading: <path>"}}, {}, {}},
      {"variable in the doc only",
       "debug(\"Done\");",
       {{"selvane", "Done <how>"}},
       {"f.cpp: \"Done\""},
       {"selvane: Done <how>"}},
      {"variable in the code only",
       "debug(\"Done: \" + why);",
       {{"selvane", "Done: "}},
       {"f.cpp: \"Done: \""},
       {"selvane: Done: "}},
      {"printf conversions",
       "snprintf(b, n, \"Read %zu samples (%.1fs)\", c, s);",
       {{"selvane", "Read <count> samples (<seconds>s)"}},
       {},
       {}},
      {"later piece differs",
       "debug(std::string(\"Open \") + a + \" pipe \" + b);",
       {{"selvane", "Open <which> tube <path>"}},
       {"f.cpp: \"Open \""},
       {"selvane: Open <which> tube <path>"}},
      {"later pieces in order",
       "debug(std::string(\"Ready (x: \") + (on ? \"true\" : \"false\") + \")\");",
       {{"selvane", "Ready (x: <true or false>)"}},
       {},
       {}},
      {"adjacent literals", "debug(\"Two \" \"parts\");", {{"selvane", "Two parts"}}, {}, {}},
      {"doc entry of no code", "", {{"selvane", "Gone"}}, {}, {"selvane: Gone"}},
      {"other program", "debug(\"Mine\");", {{"tovrin", "Mine"}}, {"f.cpp: \"Mine\""}, {"tovrin: Mine"}},
  };
  for (const CheckerRow& row : rows) {
    SCOPED_TRACE(row.name);
    const Mismatches m = compare({{"selvane", "f.cpp", row.code}}, row.doc);
    EXPECT_EQ(m.undocumented, row.undocumented);
    EXPECT_EQ(m.unwritten, row.unwritten);
  }
}

}  // namespace
