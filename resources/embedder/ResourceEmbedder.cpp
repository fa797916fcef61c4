// Build-time tool: turns PNG files into the C++ table behind tq::findBitmapResource and
// tq::findNamedResource.
//
//   tq_resource_embedder <output.cpp> <key>=<file> ...
//
// A key made only of digits is a bitmap number; any other key is a resource name. The bytes are
// written as string literals (printable characters as themselves, the rest as three-digit octal
// escapes; quote, backslash and question mark escaped), which the compiler reads much faster than a
// list of integer initialisers.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Input {
    std::string key;
    std::string path;
    bool numbered = false;
};

bool allDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

bool readFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return static_cast<bool>(in) || in.eof();
}

void writeLiteral(std::ostream& out, const std::string& bytes) {
    constexpr std::size_t kLineBudget = 96;
    std::size_t lineLength = 0;
    out << "    \"";
    for (unsigned char c : bytes) {
        if (lineLength >= kLineBudget) {
            out << "\"\n    \"";
            lineLength = 0;
        }
        // '?' is escaped too, so no "??x" sequence can read as a trigraph warning.
        if (c == '"' || c == '\\' || c == '?') {
            out << '\\' << static_cast<char>(c);
            lineLength += 2;
        } else if (c >= 0x20 && c < 0x7f) {
            out << static_cast<char>(c);
            lineLength += 1;
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\%03o", static_cast<unsigned>(c));
            out << escape;
            lineLength += 4;
        }
    }
    out << "\"";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <output.cpp> <key>=<file> ...\n", argv[0]);
        return 2;
    }
    std::vector<Input> inputs;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto equals = argument.find('=');
        if (equals == std::string::npos || equals == 0 || equals + 1 == argument.size()) {
            std::fprintf(stderr, "bad argument '%s' (expected key=file)\n", argv[i]);
            return 2;
        }
        Input input;
        input.key = argument.substr(0, equals);
        input.path = argument.substr(equals + 1);
        input.numbered = allDigits(input.key);
        inputs.push_back(input);
    }

    std::ostringstream out;
    out << "// Written by tq_resource_embedder at build time; do not edit.\n"
           "#include \"EmbeddedResourceTable.h\"\n\n"
           "namespace tq::detail {\nnamespace {\n\n";
    // Identical files (two knobs may share one picture) are stored once.
    std::vector<std::string> contents;
    std::vector<std::size_t> arrayOf;
    for (const Input& input : inputs) {
        std::string bytes;
        if (!readFile(input.path, bytes) || bytes.empty()) {
            std::fprintf(stderr, "cannot read '%s'\n", input.path.c_str());
            return 1;
        }
        std::size_t index = 0;
        while (index < contents.size() && contents[index] != bytes) ++index;
        arrayOf.push_back(index);
        if (index < contents.size()) continue;
        contents.push_back(bytes);
        // One extra element for the literal's terminating zero; the table records the true size.
        out << "// " << input.key << "\nconst unsigned char resource" << index << "["
            << bytes.size() + 1 << "] =\n";
        writeLiteral(out, bytes);
        out << ";\n\n";
    }
    out << "}  // namespace\n\nconst EmbeddedResourceEntry kEmbeddedResources[] = {\n";
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (inputs[i].numbered)
            out << "    {" << std::stoi(inputs[i].key) << ", nullptr, ";
        else
            out << "    {0, \"" << inputs[i].key << "\", ";
        out << "resource" << arrayOf[i] << ", " << contents[arrayOf[i]].size() << "},\n";
    }
    out << "};\n\nconst std::size_t kEmbeddedResourceCount = " << inputs.size()
        << ";\n\n}  // namespace tq::detail\n";

    const std::string outputPath = argv[1];
    const std::string temporaryPath = outputPath + ".tmp";
    {
        std::ofstream file(temporaryPath, std::ios::binary | std::ios::trunc);
        file << out.str();
        if (!file) {
            std::fprintf(stderr, "cannot write '%s'\n", temporaryPath.c_str());
            return 1;
        }
    }
    if (std::rename(temporaryPath.c_str(), outputPath.c_str()) != 0) {
        std::fprintf(stderr, "cannot rename to '%s'\n", outputPath.c_str());
        return 1;
    }
    return 0;
}
