// The shipped IDL must describe exactly what the C++ types encode: same
// structs, same fields in the same order with the same types, same
// enumerators in the same order.

#include "MessageTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

using namespace aspn2_msgs::idl;

namespace {

using Tokens = std::vector<std::string>;
using Definitions = std::map<std::string, Tokens>;

Tokens tokenize(const std::string& text)
{
    Tokens tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (text.compare(i, 2, "//") == 0) {
            i = text.find('\n', i);
        } else if (text.compare(i, 2, "/*") == 0) {
            i = text.find("*/", i);
            i = i == std::string::npos ? i : i + 2;
        } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
            std::size_t j = i;
            while (j < text.size() && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_')) {
                ++j;
            }
            tokens.push_back(text.substr(i, j - i));
            i = j;
        } else if (text.compare(i, 2, "::") == 0) {
            tokens.push_back("::");
            i += 2;
        } else {
            tokens.push_back(std::string(1, c));
            ++i;
        }
    }
    return tokens;
}

// Drops annotations (@final) and the module qualification of type names.
Tokens normalize(const Tokens& in)
{
    Tokens out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == "@") {
            ++i;
        } else if (in[i] == "::" && i + 4 < in.size() && in[i + 1] == "aspn2_msgs" && in[i + 3] == "idl" &&
                   in[i + 4] == "::") {
            i += 4;
        } else {
            out.push_back(in[i]);
        }
    }
    return out;
}

// struct/enum NAME { ... } ; -> NAME: the tokens between the braces.
Definitions definitionsOf(const Tokens& tokens)
{
    Definitions defs;
    for (std::size_t i = 0; i + 2 < tokens.size(); ++i) {
        if ((tokens[i] == "struct" || tokens[i] == "enum") && tokens[i + 2] == "{") {
            Tokens body{tokens[i]};
            std::size_t j = i + 3;
            for (; j < tokens.size() && tokens[j] != "}"; ++j) {
                body.push_back(tokens[j]);
            }
            EXPECT_TRUE(defs.emplace(tokens[i + 1], body).second) << "defined twice: " << tokens[i + 1];
            i = j;
        }
    }
    return defs;
}

// ---- the same description, printed from the C++ field lists ----

class IdlPrinter {
public:
    template <class T>
    std::string typeName()
    {
        if constexpr (std::is_same_v<T, int32_t>) {
            return "long";
        } else if constexpr (std::is_same_v<T, int64_t>) {
            return "long long";
        } else if constexpr (std::is_same_v<T, double>) {
            return "double";
        } else if constexpr (std::is_same_v<T, float>) {
            return "float";
        } else if constexpr (std::is_same_v<T, bool>) {
            return "boolean";
        } else if constexpr (std::is_same_v<T, uint8_t>) {
            return "octet";
        } else if constexpr (std::is_same_v<T, char>) {
            return "char";
        } else if constexpr (std::is_same_v<T, std::string>) {
            return "string";
        } else if constexpr (std::is_enum_v<T>) {
            using Description = decltype(describe_enum(T{}));
            if (!m_done.insert(Description::name).second) {
                return Description::name;
            }
            std::string body = "enum " + std::string(Description::name) + " {";
            const char* separator = " ";
            for (const char* e : Description::enumerators) {
                body += separator + std::string(e);
                separator = ", ";
            }
            m_text += body + " };\n";
            return Description::name;
        } else if constexpr (msgtest::cdr::is_vector<T>::value) {
            return "sequence<" + typeName<typename T::value_type>() + ">";
        } else {
            struct_<T>();
            return std::string(T::type_name).substr(std::string("aspn2_msgs::idl::").size());
        }
    }

    template <class T>
    void struct_()
    {
        if (!m_done.insert(T::type_name).second) {
            return;
        }
        std::string body = "struct " + std::string(T::type_name).substr(17) + " {\n";
        T::cdr_fields([&](auto m, const char* name) {
            using F = msgtest::cdr::member_t<decltype(m)>;
            std::string dims;
            body += "  " + leafName<F>(dims) + " " + name + dims + ";\n";
        });
        m_text += body + "};\n";
    }

    const std::string& text() const { return m_text; }

private:
    template <class F>
    std::string leafName(std::string& dims)
    {
        if constexpr (msgtest::cdr::is_array<F>::value) {
            dims += "[" + std::to_string(std::tuple_size<F>::value) + "]";
            return leafName<typename F::value_type>(dims);
        } else {
            return typeName<F>();
        }
    }

    std::string m_text;
    std::set<std::string> m_done;
};

std::string shippedIdl()
{
    std::ifstream in(CHRONAVEL_SOURCE_DIR "/src/aspn2_msgs/idl/aspn2_msgs.idl");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(IdlContract, ShippedIdlMatchesTheEncodedTypes)
{
    const std::string idl = shippedIdl();
    ASSERT_FALSE(idl.empty());

    IdlPrinter printer;
#define ASPN2_PRINT_(Name) printer.struct_<Name>();
    ASPN2_ALL_STRUCTS(ASPN2_PRINT_)
#undef ASPN2_PRINT_
    const Definitions expected = definitionsOf(tokenize(printer.text()));
    const Definitions shipped = definitionsOf(normalize(tokenize(idl)));

    for (const auto& [name, body] : expected) {
        auto found = shipped.find(name);
        if (found == shipped.end()) {
            ADD_FAILURE() << "missing from the IDL: " << name;
            continue;
        }
        EXPECT_EQ(found->second, body) << "differs: " << name;
    }
    for (const auto& [name, body] : shipped) {
        EXPECT_TRUE(expected.count(name)) << "only in the IDL: " << name;
    }
}

TEST(IdlContract, EverythingSitsInModuleAspn2MsgsIdl)
{
    const Tokens tokens = normalize(tokenize(shippedIdl()));
    const Tokens opening{"module", "aspn2_msgs", "{", "module", "idl", "{"};
    ASSERT_GE(tokens.size(), opening.size());
    EXPECT_EQ(Tokens(tokens.begin(), tokens.begin() + 6), opening);
    EXPECT_EQ(std::count(tokens.begin(), tokens.end(), "module"), 2);
}

}  // namespace
