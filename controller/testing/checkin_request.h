// Reading a captured check-in request back: the framing around it, the
// decoded MAC and the decoded query field by field. Its own base64, so that
// a fault of the product's codec cannot hide itself.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace checkin_test {

inline const std::string& alphabet() {
  static const std::string a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  return a;
}

inline std::string encode(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
    if (i + 2 < in.size()) v |= static_cast<unsigned char>(in[i + 2]);
    out += alphabet()[(v >> 18) & 63];
    out += alphabet()[(v >> 12) & 63];
    out += i + 1 < in.size() ? alphabet()[(v >> 6) & 63] : '=';
    out += i + 2 < in.size() ? alphabet()[v & 63] : '=';
  }
  return out;
}

// Strict: only whole, properly padded groups; "?" on anything else.
inline std::string decode(const std::string& in) {
  if (in.size() % 4 != 0) return "?";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 4) {
    unsigned v = 0;
    int pad = 0;
    for (size_t k = 0; k < 4; ++k) {
      char c = in[i + k];
      size_t at = alphabet().find(c);
      if (c == '=' && i + 4 == in.size() && k >= 2) {
        ++pad;
        at = 0;
      } else if (at == std::string::npos || pad > 0) {
        return "?";
      }
      v = v << 6 | static_cast<unsigned>(at);
    }
    out += static_cast<char>(v >> 16 & 255);
    if (pad < 2) out += static_cast<char>(v >> 8 & 255);
    if (pad < 1) out += static_cast<char>(v & 255);
  }
  return out;
}

struct CheckinRequest {
  bool framed = false;  // the bytes are exactly the check-in framing
  std::string path;
  std::string encoded_mac;
  std::string encoded_data;
  std::string host;
  std::string mac;    // decoded
  std::string query;  // decoded
  std::vector<std::pair<std::string, std::string>> fields;

  std::vector<std::string> keys() const {
    std::vector<std::string> out;
    for (const auto& f : fields) out.push_back(f.first);
    return out;
  }
  std::string operator[](const std::string& key) const {
    for (const auto& f : fields) {
      if (f.first == key) return f.second;
    }
    return "<absent>";
  }
};

inline std::string frame(const std::string& path, const std::string& mac, const std::string& data,
                         const std::string& host) {
  return "POST " + path + "?mac=" + mac + "&data=" + data + " HTTP/1.0\r\nUser-Agent:Kestrel 0.1\r\nHost: " + host +
         "\r\n\r\n";
}

inline CheckinRequest parse_request(const std::string& bytes) {
  CheckinRequest r;
  const std::string post = "POST ";
  size_t q = bytes.find("?mac=");
  size_t d = bytes.find("&data=");
  size_t v = bytes.find(" HTTP/1.0\r\n");
  size_t h = bytes.find("Host: ");
  if (bytes.rfind(post, 0) != 0 || q == std::string::npos || d == std::string::npos || v == std::string::npos ||
      h == std::string::npos || !(q < d && d < v && v < h) || bytes.size() < h + 10) {
    return r;
  }
  r.path = bytes.substr(post.size(), q - post.size());
  r.encoded_mac = bytes.substr(q + 5, d - q - 5);
  r.encoded_data = bytes.substr(d + 6, v - d - 6);
  r.host = bytes.substr(h + 6, bytes.size() - h - 6 - 4);
  r.framed = frame(r.path, r.encoded_mac, r.encoded_data, r.host) == bytes;
  r.mac = decode(r.encoded_mac);
  r.query = decode(r.encoded_data);
  size_t at = 0;
  while (at <= r.query.size()) {
    size_t end = r.query.find('&', at);
    if (end == std::string::npos) end = r.query.size();
    std::string field = r.query.substr(at, end - at);
    size_t eq = field.find('=');
    r.fields.emplace_back(field.substr(0, eq), eq == std::string::npos ? "" : field.substr(eq + 1));
    at = end + 1;
  }
  return r;
}

inline const std::vector<std::string>& report_keys() {
  static const std::vector<std::string> keys = {"hw",      "ip",      "lan", "mesh",   "robin", "memfree",
                                                "ssid",    "pssid",   "RR",  "uptime", "load",  "role",
                                                "gateway", "gw-qual", "NTR", "nbs",    "rssi",  "hop"};
  return keys;
}

// A dashboard reply carrying `config` behind the marker.
inline std::string config_reply(const std::string& config, const std::string& status = "200 OK") {
  return "HTTP/1.0 " + status + "\r\nContent-Type: text/html\r\n\r\n#@#" + encode(config);
}

}  // namespace checkin_test
