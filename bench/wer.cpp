// Word error rate of a transcript against a reference text:
// (substitutions + deletions + insertions) / words of the reference, by a
// word-level Levenshtein distance. Words are compared lowercased, apostrophes
// dropped ("don't" is "dont") and every other character that is not a letter or
// a digit taken as a space.
//
// usage: wer REFERENCE_FILE HYPOTHESIS_FILE
// prints: WER (ERRORS errors / WORDS reference words)
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool readText(const char* path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

std::vector<std::string> wordsOf(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\'') continue;
    if (std::isalnum(u) || u >= 0x80) {  // bytes of non-ASCII letters stay in the word
      word += static_cast<char>(std::tolower(u));
    } else if (!word.empty()) {
      words.push_back(word);
      word.clear();
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

size_t editDistance(const std::vector<std::string>& reference, const std::vector<std::string>& hypothesis) {
  std::vector<size_t> row(hypothesis.size() + 1);
  for (size_t j = 0; j < row.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= reference.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= hypothesis.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (reference[i - 1] == hypothesis[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row.back();
}

}  // namespace

int main(int argc, char** argv) {
  std::string reference, hypothesis;
  if (argc != 3 || !readText(argv[1], reference) || !readText(argv[2], hypothesis)) {
    std::fprintf(stderr, "usage: wer REFERENCE_FILE HYPOTHESIS_FILE\n");
    return 2;
  }
  const std::vector<std::string> referenceWords = wordsOf(reference);
  if (referenceWords.empty()) {
    std::fprintf(stderr, "wer: the reference has no words\n");
    return 2;
  }
  const size_t errors = editDistance(referenceWords, wordsOf(hypothesis));
  std::printf("%.3f (%zu errors / %zu reference words)\n", static_cast<double>(errors) / referenceWords.size(),
              errors, referenceWords.size());
  return 0;
}
