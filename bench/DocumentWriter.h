// Writes the benchmarks' generated documents: indented, one element to a
// line, as a description file kept by hand would be.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace BenchDocuments {

class Writer {
public:
    using Attributes = std::vector<std::pair<std::string, std::string>>;

    void Open(const std::string& name, const Attributes& attributes = {}) {
        StartTag(name, attributes);
        xml_ += ">\n";
        open_.push_back(name);
    }
    void Leaf(const std::string& name, const Attributes& attributes = {}) {
        StartTag(name, attributes);
        xml_ += "/>\n";
    }
    void Text(const std::string& name, const std::string& text, const Attributes& attributes = {}) {
        StartTag(name, attributes);
        xml_ += ">" + text + "</" + name + ">\n";
    }
    void Close() {
        const std::string name = open_.back();
        open_.pop_back();
        xml_.append(2 * open_.size(), ' ');
        xml_ += "</" + name + ">\n";
    }
    const std::string& Xml() const { return xml_; }

private:
    void StartTag(const std::string& name, const Attributes& attributes) {
        xml_.append(2 * open_.size(), ' ');
        xml_ += "<" + name;
        for (const auto& [key, value] : attributes) xml_ += " " + key + "=\"" + value + "\"";
    }

    std::string xml_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    std::vector<std::string> open_;
};

inline std::string Decimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

}  // namespace BenchDocuments
