// CAPA replies and response codes; see capabilities.h.
#include "pop3/capabilities.h"

#include <algorithm>

namespace iw::pop3 {

namespace {

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t s = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > s) words.push_back(line.substr(s, i - s));
    }
    return words;
}

}  // namespace

bool Capabilities::offersSasl(std::string_view name) const {
    const std::string n = Upper(name);
    return std::find(sasl.begin(), sasl.end(), n) != sasl.end();
}

Capabilities ParseCapabilities(bool ok, std::string_view text) {
    Capabilities caps;
    if (!ok) return caps;
    caps.listed = true;
    std::size_t pos = text.find('\n');
    pos = pos == std::string_view::npos ? text.size() : pos + 1;  // past the status line
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line == ".") break;
        const std::vector<std::string_view> words = Words(line);
        if (words.empty()) continue;
        const std::string tag = Upper(words[0]);
        if (tag == "PIPELINING") caps.pipelining = true;
        else if (tag == "USER") caps.user = true;
        else if (tag == "RESP-CODES") caps.respCodes = true;
        else if (tag == "AUTH-RESP-CODE") caps.authResp = true;
        else if (tag == "UIDL") caps.uidl = true;
        else if (tag == "TOP") caps.top = true;
        else if (tag == "STLS") caps.stls = true;
        else if (tag == "UTF8") caps.utf8 = true;
        else if (tag == "SASL") {
            for (std::size_t k = 1; k < words.size() && caps.sasl.size() < 64; ++k) {
                std::string m = Upper(words[k]);
                if (m.size() <= 64 && std::find(caps.sasl.begin(), caps.sasl.end(), m) == caps.sasl.end())
                    caps.sasl.push_back(std::move(m));
            }
        } else if (tag == "LOGIN-DELAY" && words.size() >= 2) {
            // "LOGIN-DELAY n" (possibly "USER" after it); a value that is no
            // number is ignored, a huge one is held at a day.
            long v = 0;
            bool digits = !words[1].empty();
            for (char c : words[1]) {
                if (c < '0' || c > '9') {
                    digits = false;
                    break;
                }
                v = std::min<long>(v * 10 + (c - '0'), 86400);
            }
            if (digits) caps.loginDelaySeconds = v;
        }
    }
    return caps;
}

ResponseCode ParseResponseCode(std::string_view line) {
    const std::size_t sp = line.find(' ');
    if (sp == std::string_view::npos) return ResponseCode::None;
    std::string_view rest = line.substr(sp + 1);
    if (rest.empty() || rest.front() != '[') return ResponseCode::None;
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos || close > 256) return ResponseCode::None;
    const std::string code = Upper(rest.substr(1, close - 1));
    auto is = [&code](std::string_view name) {
        return code == name || (code.size() > name.size() && code.compare(0, name.size(), name) == 0 &&
                                code[name.size()] == '/');
    };
    if (is("AUTH")) return ResponseCode::Auth;
    if (is("LOGIN-DELAY")) return ResponseCode::LoginDelay;
    if (is("IN-USE")) return ResponseCode::InUse;
    if (is("SYS/TEMP")) return ResponseCode::SysTemp;
    if (is("SYS/PERM")) return ResponseCode::SysPerm;
    return ResponseCode::None;
}

std::u16string ResponseCodeText(ResponseCode code) {
    switch (code) {
    case ResponseCode::Auth:
        return u"帳號或密碼被拒,請檢查密碼;郵件服務要求應用程式密碼時,請改用應用程式密碼或授權碼";
    case ResponseCode::LoginDelay: return u"郵件主機限制登入間隔,請稍後再收信";
    case ResponseCode::InUse: return u"信箱正由其他收信程式使用中,請關閉其他收信程式後再試";
    case ResponseCode::SysTemp: return u"郵件主機暫時無法服務,請稍後再試";
    case ResponseCode::SysPerm: return u"郵件主機無法提供此信箱的服務,請洽郵件服務商";
    case ResponseCode::None: break;
    }
    return {};
}

std::u16string LoginDelayText(long long secondsLeft) {
    const std::string n = std::to_string(secondsLeft);
    return u"郵件主機限制登入間隔,本次略過,請於" + std::u16string(n.begin(), n.end()) + u"秒後再收信";
}

}  // namespace iw::pop3
