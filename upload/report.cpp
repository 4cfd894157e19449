#include "upload/report.h"

namespace {

// JSON string contents: only what would end the string or break the line
// is escaped; every other byte, UTF-8 or not, goes out as it came in.
void append_json_string(std::string& json, const std::string& bytes) {
    static const char hex_digits[] = "0123456789abcdef";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            json += "\\u00";
            json += hex_digits[byte >> 4];
            json += hex_digits[byte & 0x0f];
        } else {
            json += c;
        }
    }
}

} // namespace

std::string make_json(const std::string& token, const th10replay& record) {
    std::string json = "{\"token\":\"";
    append_json_string(json, token);
    json += "\",\"replay_hash\":\"";
    append_json_string(json, record.replay_hash);
    // The byte fields are numbers on the wire, never characters.
    json += "\",\"character\":" + std::to_string(unsigned{record.character});
    json += ",\"ctype\":" + std::to_string(unsigned{record.ctype});
    json += ",\"rank\":" + std::to_string(unsigned{record.rank});
    json += ",\"clear\":" + std::to_string(unsigned{record.clear});
    json += ",\"score\":[";
    for (std::size_t stage = 0; stage < th10_stage_scores; ++stage) {
        if (stage > 0)
            json += ',';
        json += std::to_string(record.score[stage]);
    }
    json += "],\"player\":\"";
    append_json_string(json, record.player);
    json += "\",\"date\":\"";
    append_json_string(json, record.date);
    json += "\"}";
    return json;
}
