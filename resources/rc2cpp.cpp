// Build-time tool: reads the dialog templates of a Windows resource script and writes them as a
// C++ source that registers them with the Linux window layer. It understands the subset of the
// resource language that the program's scripts use (DIALOGEX with STYLE, EXSTYLE, CAPTION, FONT
// and CONTROL statements, numeric expressions with | and NOT, symbols #defined in quoted
// includes) and rejects everything else by name, so a script edited for Windows cannot silently
// produce a different dialog on Linux.
//
// usage: rc2cpp INPUT.rc OUTPUT.cpp

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Styles the resource compiler adds by itself, as the Windows tool chain does.
constexpr std::uint32_t kWsPopup = 0x80000000u, kWsBorder = 0x00800000u, kWsSysMenu = 0x00080000u;
constexpr std::uint32_t kWsCaption = 0x00C00000u, kDsSetFont = 0x00000040u;
constexpr std::uint32_t kWsChild = 0x40000000u, kWsVisible = 0x10000000u;

struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class Tok { End, Ident, Number, String, Comma, Pipe, Minus, Hash };

struct Token {
    Tok kind = Tok::End;
    std::string text;
    std::int64_t number = 0;
    int line = 0;
};

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Error("cannot read " + path.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class Lexer {
public:
    Lexer(std::string source, std::string file) : src_(std::move(source)), file_(std::move(file)) {}

    // Preprocessor lines are returned whole (after the '#') so the caller can handle them.
    Token next() {
        skipSpaceAndComments();
        Token t;
        t.line = line_;
        if (pos_ >= src_.size())
            return t;
        const char c = src_[pos_];
        if (c == '#' && atLineStart_) {
            std::size_t end = src_.find('\n', pos_);
            if (end == std::string::npos)
                end = src_.size();
            t.kind = Tok::Hash;
            t.text = src_.substr(pos_ + 1, end - pos_ - 1);
            pos_ = end;
            return t;
        }
        atLineStart_ = false;
        if (c == ',' || c == '|' || c == '-') {
            ++pos_;
            t.kind = c == ',' ? Tok::Comma : c == '|' ? Tok::Pipe : Tok::Minus;
            t.text = std::string(1, c);
            return t;
        }
        if (c == '"')
            return stringToken(t);
        if (std::isdigit(static_cast<unsigned char>(c)))
            return numberToken(t);
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            std::size_t start = pos_;
            while (pos_ < src_.size() &&
                   (std::isalnum(static_cast<unsigned char>(src_[pos_])) || src_[pos_] == '_'))
                ++pos_;
            t.kind = Tok::Ident;
            t.text = src_.substr(start, pos_ - start);
            return t;
        }
        if (c == '{' || c == '}') {
            ++pos_;
            t.kind = Tok::Ident;
            t.text = c == '{' ? "BEGIN" : "END";
            return t;
        }
        fail(t.line, std::string("unexpected character '") + c + "'");
    }

    [[noreturn]] void fail(int line, const std::string& what) const {
        throw Error(file_ + ":" + std::to_string(line) + ": " + what);
    }

private:
    void skipSpaceAndComments() {
        while (pos_ < src_.size()) {
            const char c = src_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
                atLineStart_ = true;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (src_.compare(pos_, 2, "//") == 0) {
                while (pos_ < src_.size() && src_[pos_] != '\n')
                    ++pos_;
            } else if (src_.compare(pos_, 2, "/*") == 0) {
                const std::size_t end = src_.find("*/", pos_ + 2);
                if (end == std::string::npos)
                    fail(line_, "unterminated comment");
                for (std::size_t i = pos_; i < end; ++i)
                    line_ += src_[i] == '\n';
                pos_ = end + 2;
            } else {
                return;
            }
        }
    }

    Token stringToken(Token& t) {
        ++pos_;
        t.kind = Tok::String;
        for (;;) {
            if (pos_ >= src_.size() || src_[pos_] == '\n')
                fail(t.line, "unterminated string");
            const char c = src_[pos_++];
            if (c == '"') {
                if (pos_ < src_.size() && src_[pos_] == '"') { // "" stands for one quote
                    t.text += '"';
                    ++pos_;
                    continue;
                }
                return t;
            }
            if (c == '\\' && pos_ < src_.size()) {
                const char e = src_[pos_++];
                switch (e) {
                case 'n':
                    t.text += '\n';
                    break;
                case 't':
                    t.text += '\t';
                    break;
                case '\\':
                    t.text += '\\';
                    break;
                case '"':
                    t.text += '"';
                    break;
                default:
                    fail(t.line, std::string("unsupported escape \\") + e);
                }
                continue;
            }
            t.text += c;
        }
    }

    Token numberToken(Token& t) {
        std::size_t start = pos_;
        int base = 10;
        if (src_.compare(pos_, 2, "0x") == 0 || src_.compare(pos_, 2, "0X") == 0) {
            base = 16;
            pos_ += 2;
        }
        std::size_t digits = pos_;
        while (pos_ < src_.size() && std::isxdigit(static_cast<unsigned char>(src_[pos_])))
            ++pos_;
        if (pos_ == digits)
            fail(t.line, "malformed number");
        t.kind = Tok::Number;
        t.text = src_.substr(start, pos_ - start);
        t.number = std::stoll(src_.substr(digits, pos_ - digits), nullptr, base);
        if (base == 10 && t.text.find_first_not_of("0123456789") != std::string::npos)
            fail(t.line, "malformed number " + t.text);
        if (pos_ < src_.size() && (src_[pos_] == 'L' || src_[pos_] == 'l'))
            ++pos_;
        return t;
    }

    std::string src_;
    std::string file_;
    std::size_t pos_ = 0;
    int line_ = 1;
    bool atLineStart_ = true;
};

struct Item {
    std::string className, text;
    std::int64_t id = 0;
    std::uint32_t style = 0, exStyle = 0;
    std::int64_t x = 0, y = 0, cx = 0, cy = 0;
};

struct Dialog {
    std::string name;
    std::uint32_t style = kWsPopup | kWsBorder | kWsSysMenu, exStyle = 0;
    std::int64_t x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    std::int64_t pointSize = 0, weight = 0, italic = 0, charset = 1;
    std::string typeface;
    std::vector<Item> items;
};

class Parser {
public:
    Parser(const std::filesystem::path& path) : path_(path), lex_(readFile(path), path.string()) {
        advance();
    }

    std::vector<Dialog> parse() {
        std::vector<Dialog> dialogs;
        while (tok_.kind != Tok::End) {
            if (tok_.kind == Tok::Hash) {
                directive(tok_.text, tok_.line);
                advance();
                continue;
            }
            const Token name = expect(Tok::Ident, "a resource name");
            const Token type = expect(Tok::Ident, "a resource type");
            if (type.text != "DIALOGEX")
                lex_.fail(type.line, "unsupported resource type " + type.text +
                                         " (only DIALOGEX is understood)");
            dialogs.push_back(dialog(name.text));
        }
        return dialogs;
    }

private:
    void advance() { tok_ = lex_.next(); }

    Token expect(Tok kind, const char* what) {
        if (tok_.kind != kind)
            lex_.fail(tok_.line, std::string("expected ") + what + ", found '" + tok_.text + "'");
        Token t = tok_;
        advance();
        return t;
    }

    bool accept(Tok kind) {
        if (tok_.kind != kind)
            return false;
        advance();
        return true;
    }

    bool isKeyword(const char* word) const { return tok_.kind == Tok::Ident && tok_.text == word; }

    // #include "file" reads the file's #defines; #pragma once is allowed; all else is refused.
    void directive(const std::string& line, int lineNo) {
        std::istringstream in(line);
        std::string word;
        in >> word;
        if (word == "include") {
            std::string file;
            in >> file;
            if (file.size() < 2 || file.front() != '"' || file.back() != '"')
                lex_.fail(lineNo, "only quoted includes are understood: " + line);
            readDefines(path_.parent_path() / file.substr(1, file.size() - 2));
            return;
        }
        if (word == "pragma")
            return;
        if (word == "define") {
            define(in, lineNo);
            return;
        }
        lex_.fail(lineNo, "unsupported preprocessor line #" + line);
    }

    void define(std::istringstream& in, int lineNo) {
        std::string name, value;
        in >> name >> value;
        Lexer valueLexer(value, path_.string());
        Token t = valueLexer.next();
        bool negative = false;
        if (t.kind == Tok::Minus) {
            negative = true;
            t = valueLexer.next();
        }
        if (name.empty() || t.kind != Tok::Number || valueLexer.next().kind != Tok::End)
            lex_.fail(lineNo, "only numeric #defines are understood: " + name + " " + value);
        symbols_[name] = negative ? -t.number : t.number;
    }

    void readDefines(const std::filesystem::path& header) {
        std::istringstream in(readFile(header));
        std::string line;
        int lineNo = 0;
        while (std::getline(in, line)) {
            ++lineNo;
            std::istringstream words(line);
            std::string word;
            words >> word;
            if (word == "#define")
                define(words, lineNo);
        }
    }

    // value := ['-'] number | symbol
    std::int64_t value() {
        if (accept(Tok::Minus))
            return -value();
        if (tok_.kind == Tok::Number) {
            const std::int64_t v = tok_.number;
            advance();
            return v;
        }
        if (tok_.kind == Tok::Ident) {
            const auto it = symbols_.find(tok_.text);
            if (it == symbols_.end())
                lex_.fail(tok_.line, "unknown symbol " + tok_.text);
            advance();
            return it->second;
        }
        lex_.fail(tok_.line, "expected a number, found '" + tok_.text + "'");
    }

    // A style expression: terms joined by '|', each a value ORed in or 'NOT value' cleared,
    // applied in order to the style the statement starts from.
    std::uint32_t styleExpression(std::uint32_t style) {
        do {
            if (isKeyword("NOT")) {
                advance();
                style &= ~static_cast<std::uint32_t>(value());
            } else {
                style |= static_cast<std::uint32_t>(value());
            }
        } while (accept(Tok::Pipe));
        return style;
    }

    std::int64_t coordinate() {
        const std::int64_t v = value();
        if (v < -32768 || v > 32767)
            lex_.fail(tok_.line, "coordinate out of range");
        return v;
    }

    Dialog dialog(const std::string& name) {
        Dialog d;
        d.name = name;
        d.x = coordinate();
        expect(Tok::Comma, "','");
        d.y = coordinate();
        expect(Tok::Comma, "','");
        d.cx = coordinate();
        expect(Tok::Comma, "','");
        d.cy = coordinate();
        if (accept(Tok::Comma))
            value(); // help id: not used by the window layer
        while (!isKeyword("BEGIN")) {
            const Token statement = expect(Tok::Ident, "a dialog statement or BEGIN");
            if (statement.text == "STYLE") {
                d.style = styleExpression(d.style);
            } else if (statement.text == "EXSTYLE") {
                d.exStyle = styleExpression(0);
            } else if (statement.text == "CAPTION") {
                d.caption = expect(Tok::String, "a caption string").text;
                d.style |= kWsCaption;
            } else if (statement.text == "FONT") {
                d.pointSize = value();
                expect(Tok::Comma, "','");
                d.typeface = expect(Tok::String, "a typeface string").text;
                if (accept(Tok::Comma)) {
                    d.weight = value();
                    expect(Tok::Comma, "','");
                    d.italic = value();
                    if (accept(Tok::Comma))
                        d.charset = value();
                }
                d.style |= kDsSetFont;
            } else {
                lex_.fail(statement.line, "unsupported dialog statement " + statement.text);
            }
        }
        advance();
        while (!isKeyword("END")) {
            const Token statement = expect(Tok::Ident, "CONTROL or END");
            if (statement.text != "CONTROL")
                lex_.fail(statement.line, "unsupported control statement " + statement.text +
                                              " (write it as CONTROL with class and style)");
            d.items.push_back(control());
        }
        advance();
        return d;
    }

    // CONTROL "text", id, "class", style, x, y, cx, cy [, exstyle [, helpid]]
    Item control() {
        Item item;
        item.text = expect(Tok::String, "the control text").text;
        expect(Tok::Comma, "','");
        item.id = value();
        expect(Tok::Comma, "','");
        item.className = expect(Tok::String, "the class name").text;
        expect(Tok::Comma, "','");
        item.style = styleExpression(kWsChild | kWsVisible);
        expect(Tok::Comma, "','");
        item.x = coordinate();
        expect(Tok::Comma, "','");
        item.y = coordinate();
        expect(Tok::Comma, "','");
        item.cx = coordinate();
        expect(Tok::Comma, "','");
        item.cy = coordinate();
        if (accept(Tok::Comma)) {
            item.exStyle = styleExpression(0);
            if (accept(Tok::Comma))
                value();
        }
        return item;
    }

    std::filesystem::path path_;
    Lexer lex_;
    Token tok_;
    std::map<std::string, std::int64_t> symbols_;
};

std::string literal(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03o", c);
            out += buf;
        }
    }
    return out + "\"";
}

std::string hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08Xu", v);
    return buf;
}

std::string generate(const std::vector<Dialog>& dialogs, const std::string& source) {
    std::ostringstream out;
    out << "// Generated from " << source << " by rc2cpp; do not edit.\n"
        << "#include \"platform/win32_ui_template.h\"\n\n"
        << "namespace {\n\nusing orvane::platform::DialogItemTemplate;\n"
        << "using orvane::platform::DialogTemplate;\n\n";
    for (std::size_t i = 0; i < dialogs.size(); ++i) {
        out << "const DialogItemTemplate items" << i << "[] = {\n";
        for (const Item& it : dialogs[i].items)
            out << "    {" << literal(it.className) << ", " << literal(it.text) << ", " << it.id
                << ", " << hex(it.style) << ", " << hex(it.exStyle) << ", " << it.x << ", " << it.y
                << ", " << it.cx << ", " << it.cy << "},\n";
        if (dialogs[i].items.empty())
            out << "    {}\n";
        out << "};\n\n";
    }
    out << "const DialogTemplate dialogs[] = {\n";
    for (std::size_t i = 0; i < dialogs.size(); ++i) {
        const Dialog& d = dialogs[i];
        out << "    {" << literal(d.name) << ", " << hex(d.style) << ", " << hex(d.exStyle) << ", "
            << d.x << ", " << d.y << ", " << d.cx << ", " << d.cy << ", " << literal(d.caption)
            << ", " << d.pointSize << ", " << d.weight << ", " << d.italic << ", " << d.charset
            << ", " << literal(d.typeface) << ", items" << i << ", " << d.items.size() << "},\n";
    }
    out << "};\n\n"
        << "struct Registration {\n"
        << "    Registration() { orvane::platform::registerDialogTemplates(dialogs, "
        << dialogs.size() << "); }\n"
        << "} registration;\n\n"
        << "} // namespace\n";
    return out.str();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: rc2cpp INPUT.rc OUTPUT.cpp\n");
        return 2;
    }
    try {
        Parser parser(argv[1]);
        const std::vector<Dialog> dialogs = parser.parse();
        if (dialogs.empty())
            throw Error(std::string(argv[1]) + ": no dialog found");
        const std::string text =
            generate(dialogs, std::filesystem::path(argv[1]).filename().string());
        const std::string tmp = std::string(argv[2]) + ".tmp";
        {
            std::ofstream out(tmp, std::ios::binary);
            out << text;
            if (!out)
                throw Error("cannot write " + tmp);
        }
        std::filesystem::rename(tmp, argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rc2cpp: %s\n", e.what());
        return 1;
    }
    return 0;
}
