.pragma library
// Checks of the static Ethernet settings before they are saved.

// Four dot-separated numbers 0 to 255 without leading zeros.
function isAddress(text) {
    return /^(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])(\.(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])){3}$/.test(text);
}

function isAcceptable(text) {
    return text === "" || isAddress(text);
}

// The first failing rule's message, untranslated (the page translates it),
// or "" when the settings pass.
function check(fields) {
    if (fields.address === "")
        return QT_TRANSLATE_NOOP("EthernetConfig", "IPv4 address cannot be empty in 'manual' mode");
    if (fields.netmask === "")
        return QT_TRANSLATE_NOOP("EthernetConfig", "IPv4 netmask cannot be empty in 'manual' mode");
    var names = [["address", QT_TRANSLATE_NOOP("EthernetConfig", "IPv4 address is not a valid IP address")],
                 ["netmask", QT_TRANSLATE_NOOP("EthernetConfig", "IPv4 netmask is not a valid IP address")],
                 ["gateway", QT_TRANSLATE_NOOP("EthernetConfig", "IPv4 gateway is not a valid IP address")],
                 ["dns0", QT_TRANSLATE_NOOP("EthernetConfig", "IPv4 DNS #0 is not a valid IP address")],
                 ["dns1", QT_TRANSLATE_NOOP("EthernetConfig", "IPv4 DNS #1 is not a valid IP address")]];
    for (var i = 0; i < names.length; ++i) {
        if (!isAcceptable(fields[names[i][0]]))
            return names[i][1];
    }
    return "";
}
