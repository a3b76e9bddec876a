// The classification's sender lists read through the settings store, one
// keyed read per question (the store keeps the parsed file, so this is cheap).
#include "filter/classify.h"
#include "settings/accounts.h"

namespace iw::filter {

bool StoreSenderLists::isTrusted(const std::u16string& address) {
    return settings::IsTrusted(store_, userSection_, address);
}
bool StoreSenderLists::isBlackListed(const std::u16string& address) {
    return settings::IsBlackListed(store_, userSection_, address);
}
bool StoreSenderLists::isDomainListed(const std::u16string& domain) {
    return settings::IsDomainListed(store_, userSection_, domain);
}

}  // namespace iw::filter
