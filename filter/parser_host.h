// The seam between the POP3 session and a header parser: the session hands
// every complete TOP reply (raw bytes, from the buffered text before its
// "+OK" line through the terminating CR LF "." CR LF) to a HeaderParseFn,
// which appends one row to the account's list through ParserHost.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "filter/message_row.h"

namespace iw::filter {

class ParserHost {
public:
    virtual ~ParserHost() = default;
    virtual const std::u16string& accountSection(int account) const = 0;
    virtual std::int32_t messageCount(int account) const = 0;  // number to fetch
    // The message number of the reply being handed over (1-based, counted by
    // the session, so a reply that fails to parse does not shift later rows).
    virtual std::int32_t replyNumber() const = 0;
    virtual std::vector<MessageRow>& accountList(int account) = 0;
    // The remaining LIST lines ("n size" CR LF each); the parser consumes one per reply.
    virtual std::string& listingText() = 0;
    virtual bool previewLines() const = 0;
    virtual void statusBar(const std::u16string& text) = 0;
    virtual void tipLabel(const std::u16string& text) = 0;
    // Copies the account's last row into the visible list.
    virtual void copyLastRowToVisible(int account) = 0;
    // Moves the header wait's inactivity start to now.
    virtual void touchActivity() = 0;
    // The account's last message has been parsed.
    virtual void setPhaseDone() = 0;
    virtual void messageBox(const std::u16string& text) = 0;
};

using HeaderParseFn = std::function<void(ParserHost& host, int account, const std::string& reply)>;

}  // namespace iw::filter
