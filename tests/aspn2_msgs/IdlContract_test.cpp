// The shipped IDL must describe exactly what the C++ types encode: same
// structs, same fields in the same order with the same types, same
// enumerators in the same order, all inside module aspn2_msgs::idl.

#include "aspn2_msgs/Messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using namespace aspn2_msgs::idl;

namespace {

using Tokens = std::vector<std::string>;

// Identifiers and punctuation, without comments, annotations (@final) and
// the module qualification of type names.
Tokens tokenize(const std::string& text)
{
    static const std::regex token(R"(//[^\n]*|@\w+|::aspn2_msgs::idl::|\w+|[^\s\w])");
    Tokens tokens;
    for (std::sregex_iterator it(text.begin(), text.end(), token), end; it != end; ++it) {
        if (std::string("/@:").find(it->str()[0]) == std::string::npos) {
            tokens.push_back(it->str());
        }
    }
    return tokens;
}

// struct/enum NAME { ... } -> NAME: the kind and the tokens between the braces.
std::map<std::string, Tokens> definitionsOf(const Tokens& tokens)
{
    std::map<std::string, Tokens> defs;
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

const char* idlName(bool) { return "boolean"; }
const char* idlName(char) { return "char"; }
const char* idlName(uint8_t) { return "octet"; }
const char* idlName(int32_t) { return "long"; }
const char* idlName(int64_t) { return "long long"; }
const char* idlName(float) { return "float"; }
const char* idlName(double) { return "double"; }
const char* idlName(const std::string&) { return "string"; }

// The same definitions, printed from the C++ field lists.
class IdlPrinter {
public:
    std::map<std::string, Tokens> definitions;

    template <class T>
    std::string typeName()
    {
        if constexpr (std::is_enum_v<T>) {
            using Description = decltype(describe_enum(T{}));
            std::string body = "enum";
            for (const char* e : Description::enumerators) {
                body += std::string(e == Description::enumerators[0] ? " " : ", ") + e;
            }
            definitions[Description::name] = tokenize(body);
            return Description::name;
        } else if constexpr (cdr::is_vector<T>::value) {
            return "sequence<" + typeName<typename T::value_type>() + ">";
        } else if constexpr (cdr::is_struct<T>::value) {
            return structure<T>();
        } else {
            return idlName(T{});
        }
    }

    template <class T>
    std::string structure()
    {
        std::string body = "struct";
        T::cdr_fields([&](auto m, const char* field) {
            using F = cdr::member_t<decltype(m)>;
            body += " " + typeName<typename cdr::array_leaf<F>::type>() + " " + field + dims<F>() + ";";
        });
        const std::string name = T::type_name + std::strlen("aspn2_msgs::idl::");
        definitions[name] = tokenize(body);
        return name;
    }

private:
    template <class F>
    static std::string dims()
    {
        if constexpr (cdr::is_array<F>::value) {
            return "[" + std::to_string(std::tuple_size<F>::value) + "]" + dims<typename F::value_type>();
        }
        return "";
    }
};

TEST(IdlContract, ShippedIdlMatchesTheEncodedTypes)
{
    std::ifstream in(CHRONAVEL_SOURCE_DIR "/src/aspn2_msgs/idl/aspn2_msgs.idl");
    std::stringstream idl;
    idl << in.rdbuf();
    const Tokens tokens = tokenize(idl.str());
    ASSERT_GE(tokens.size(), 6u);
    const Tokens modules{"module", "aspn2_msgs", "{", "module", "idl", "{"};
    EXPECT_EQ(Tokens(tokens.begin(), tokens.begin() + 6), modules);
    EXPECT_EQ(std::count(tokens.begin(), tokens.end(), "module"), 2);

    IdlPrinter printer;
#define ASPN2_PRINT_(Name) printer.structure<Name>();
    ASPN2_ALL_STRUCTS(ASPN2_PRINT_)
#undef ASPN2_PRINT_
    const auto& expected = printer.definitions;
    const auto shipped = definitionsOf(tokens);
    for (const auto& [name, body] : expected) {
        EXPECT_EQ(shipped.count(name) ? shipped.at(name) : Tokens{"<missing>"}, body) << name;
    }
    for (const auto& entry : shipped) {
        EXPECT_TRUE(expected.count(entry.first)) << "only in the IDL: " << entry.first;
    }
}

}  // namespace
