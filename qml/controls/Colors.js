.pragma library
// Colours of status values on the settings pages.

var green = "#41b987";
var red = "#db4a37";
var amber = "#f0a30a";
var grey = "#999999";

function diagnostic(value) {
    if (!value)
        return grey;
    return value === "OK" ? green : value === "ERROR" ? red : amber;
}

function connectionState(value) {
    return value === "Connected" ? green : value === "Disconnected" ? red : amber;
}

function connectivity(value) {
    return value === "Full" ? green : (value === "Portal" || value === "Limited") ? amber : red;
}

function updateStatus(value, normal) {
    if (["Disconnected", "Service not running", "Installation failed", "Download failed"].indexOf(value) >= 0)
        return red;
    if (value === "Ready to install")
        return green;
    return (value === "Downloading" || value === "Installing") ? amber : normal;
}
