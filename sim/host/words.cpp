#include "words.h"

namespace zol_host {
namespace {

constexpr std::string_view kSpace = " \t\r\n";

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads one item from s at i up to the first unquoted stop character; false
// with the reason in error when a quote is open at the end or an escape is unknown.
bool read_item(std::string_view s, size_t &i, std::string_view stops, Word &w, std::string &error)
{
    const size_t begin = i;
    while (i < s.size() && stops.find(s[i]) == std::string_view::npos) {
        if (s[i] != '"') {
            w.text += s[i++];
            continue;
        }
        w.quoted = true;
        ++i;
        while (true) {
            if (i == s.size()) {
                error = "unterminated quote";
                return false;
            }
            const char c = s[i++];
            if (c == '"') {
                break;
            }
            if (c != '\\') {
                w.text += c;
                continue;
            }
            if (i < s.size() && (s[i] == '"' || s[i] == '\\')) {
                w.text += s[i++];
            } else if (i + 2 < s.size() && s[i] == 'x' && hex_digit(s[i + 1]) >= 0 &&
                       hex_digit(s[i + 2]) >= 0) {
                w.text += static_cast<char>(hex_digit(s[i + 1]) * 16 + hex_digit(s[i + 2]));
                i += 3;
            } else {
                error = "unknown escape in quotes";
                return false;
            }
        }
    }
    w.raw = std::string(s.substr(begin, i - begin));
    return true;
}

} // namespace

std::optional<std::vector<Word>> split_words(std::string_view s, std::string &error)
{
    std::vector<Word> words;
    size_t i = 0;
    while (true) {
        while (i < s.size() && kSpace.find(s[i]) != std::string_view::npos) {
            ++i;
        }
        if (i == s.size()) {
            return words;
        }
        Word w;
        if (!read_item(s, i, kSpace, w, error)) {
            return std::nullopt;
        }
        words.push_back(std::move(w));
    }
}

std::optional<std::vector<std::optional<std::string>>> split_list(std::string_view raw,
                                                                  std::string &error)
{
    std::vector<std::optional<std::string>> items;
    if (raw.empty()) {
        return items;
    }
    size_t i = 0;
    while (true) {
        Word w;
        if (!read_item(raw, i, ",", w, error)) {
            return std::nullopt;
        }
        items.push_back(text_or_null(w));
        if (i == raw.size()) {
            return items;
        }
        ++i; // the comma
    }
}

std::optional<std::string> text_or_null(const Word &word)
{
    if (!word.quoted && word.text == "null") {
        return std::nullopt;
    }
    return word.text;
}

} // namespace zol_host
