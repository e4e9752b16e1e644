// The words of a console or scenario line: blanks separate them, double quotes
// keep blanks inside one and allow the escapes \" \\ and \xNN, the same ones the
// host prints texts with. Whether a word was quoted matters: unquoted null and -
// stand for a null pointer, quoted they are the texts themselves.
#ifndef ZOL_HOST_WORDS_H
#define ZOL_HOST_WORDS_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zol_host {

struct Word {
    std::string text;
    bool quoted = false;
    std::string raw; // as written, quotes and escapes included
};

// Nothing, with the reason in error, for an unterminated quote or an unknown escape.
std::optional<std::vector<Word>> split_words(std::string_view line, std::string &error);

// A comma-separated list, such as the value of strings=a,"b,c",null; each item is
// decoded like a word. Unquoted null is a null text. An empty list has no items.
std::optional<std::vector<std::optional<std::string>>> split_list(std::string_view raw,
                                                                  std::string &error);

// The texts of a word: unquoted `null` is no text.
std::optional<std::string> text_or_null(const Word &word);

} // namespace zol_host

#endif
