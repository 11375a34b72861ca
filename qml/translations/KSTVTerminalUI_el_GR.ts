<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="el_GR">
<context>
    <name>Audio</name>
    <message>
        <location filename="../screens/settings/Audio.qml" line="9"/>
        <source>Audio Enabled</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Audio.qml" line="14"/>
        <source>Audio Volume</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CollectScreen</name>
    <message>
        <location filename="../screens/CollectScreen.qml" line="7"/>
        <source>Rear License Plate</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/CollectScreen.qml" line="8"/>
        <source>Insert your card</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CustomPopup</name>
    <message>
        <location filename="../controls/CustomPopup.qml" line="44"/>
        <source>Yes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../controls/CustomPopup.qml" line="49"/>
        <source>No</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Diagnostics</name>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="19"/>
        <source>RTC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="19"/>
        <source>Ethernet</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="20"/>
        <source>USB Hub</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="20"/>
        <source>USB Host</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="20"/>
        <source>FTDI</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="21"/>
        <source>mPCIe #1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="21"/>
        <source>Touch</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="21"/>
        <source>SD Card</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="22"/>
        <source>RFID (USB)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="22"/>
        <source>RFID (Service)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="23"/>
        <source>Buzzer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="23"/>
        <source>LEDs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="24"/>
        <source>RFID</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="24"/>
        <source>Speaker</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="24"/>
        <source>Sensor</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="25"/>
        <source>RGB</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="27"/>
        <source>Can you hear the buzzer?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="28"/>
        <source>Can you see the LEDs flashing?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="29"/>
        <source>Can you hear the internal speaker?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="30"/>
        <source>Is LCD brightness adjusting?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="31"/>
        <source>Was the RGB test successful?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="91"/>
        <source>Self Tests</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="122"/>
        <source>FINISH</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="132"/>
        <source>Brightness : </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="139"/>
        <source>Tap a card</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>DispenseScreen</name>
    <message>
        <location filename="../screens/DispenseScreen.qml" line="7"/>
        <source>Front License Plate</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/DispenseScreen.qml" line="8"/>
        <source>Press button to issue card</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Display</name>
    <message>
        <location filename="../screens/settings/Display.qml" line="9"/>
        <source>Brightness Mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Display.qml" line="14"/>
        <source>Display Brightness</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Display.qml" line="30"/>
        <source>Ambient Light Sensor</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Display.qml" line="33"/>
        <source>Show Cursor</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Display.qml" line="42"/>
        <source>Dark Theme</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Display.qml" line="54"/>
        <source>Display OFF (min)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ErrorScreen</name>
    <message>
        <location filename="../screens/ErrorScreen.qml" line="11"/>
        <source>Transaction error</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Ethernet</name>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="11"/>
        <source>Connection State</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="13"/>
        <source>State</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="17"/>
        <source>IPv4 Address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="18"/>
        <source>IPv4 Netmask</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="19"/>
        <source>IPv4 Gateway</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="20"/>
        <source>IPv4 DNS#0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="21"/>
        <source>IPv4 DNS#1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="22"/>
        <source>MAC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="23"/>
        <source>Interface</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="24"/>
        <source>State Change Reason</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="27"/>
        <source>Configure</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EthernetConfig</name>
    <message>
        <location filename="../controls/Ipv4.js" line="17"/>
        <source>IPv4 address cannot be empty in &apos;manual&apos; mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../controls/Ipv4.js" line="19"/>
        <source>IPv4 netmask cannot be empty in &apos;manual&apos; mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../controls/Ipv4.js" line="20"/>
        <source>IPv4 address is not a valid IP address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../controls/Ipv4.js" line="21"/>
        <source>IPv4 netmask is not a valid IP address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../controls/Ipv4.js" line="22"/>
        <source>IPv4 gateway is not a valid IP address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../controls/Ipv4.js" line="23"/>
        <source>IPv4 DNS #0 is not a valid IP address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../controls/Ipv4.js" line="24"/>
        <source>IPv4 DNS #1 is not a valid IP address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="46"/>
        <source>Ethernet Configuration</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="49"/>
        <source>Mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="58"/>
        <source>IPv4 Address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="59"/>
        <source>IPv4 Netmask</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="60"/>
        <source>IPv4 Gateway</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="61"/>
        <source>DNS #0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="62"/>
        <source>DNS #1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="65"/>
        <source>Back</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="66"/>
        <source>Save</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EventLog</name>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="8"/>
        <source>All history</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="8"/>
        <source>Last hour</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="8"/>
        <source>Last 2 hours</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="9"/>
        <source>Today</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="9"/>
        <source>Yesterday</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="9"/>
        <source>Last week</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="9"/>
        <source>Last month</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="10"/>
        <source>Critical</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="10"/>
        <source>Warning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="10"/>
        <source>All messages</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="21"/>
        <source>Search</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="26"/>
        <source>CLEAR</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Login</name>
    <message>
        <location filename="../screens/settings/Login.qml" line="54"/>
        <source>Pin</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Login.qml" line="65"/>
        <source>LOGIN</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Main</name>
    <message>
        <location filename="../screens/settings/Main.qml" line="12"/>
        <source>Validator</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="12"/>
        <source>Validator information and settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="13"/>
        <source>Diagnostics</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="13"/>
        <source>System health and diagnostic</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="14"/>
        <source>Region</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="14"/>
        <source>Date, time and languange settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="15"/>
        <source>Audio</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="15"/>
        <source>Adjust audio volume</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="16"/>
        <source>Display</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="16"/>
        <source>Adjust display brightness and mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="17"/>
        <source>Network</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="17"/>
        <source>Configure Ethernet, WiFi and Modem</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="18"/>
        <source>Update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="18"/>
        <source>Check for software and sytem updates</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="19"/>
        <source>Event Log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="19"/>
        <source>Examine system events and alarms</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="52"/>
        <source>Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="105"/>
        <source>Are you sure?</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Network</name>
    <message>
        <location filename="../screens/settings/Network.qml" line="14"/>
        <source>General</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Network.qml" line="15"/>
        <source>Ethernet</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>NetworkPri</name>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="10"/>
        <source>Primary Connection</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="12"/>
        <source>Connection State</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="17"/>
        <source>Connectivity</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="21"/>
        <source>Hostname</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="22"/>
        <source>Connection Type</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="23"/>
        <source>Interface</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="24"/>
        <source>IPv4 Address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="25"/>
        <source>IPv4 Netmask</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="26"/>
        <source>IPv4 Gateway</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="27"/>
        <source>IPv4 DNS</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>OutOfOrder</name>
    <message>
        <location filename="../screens/OutOfOrder.qml" line="11"/>
        <source>Out-of-order</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Overview</name>
    <message>
        <location filename="../screens/Overview.qml" line="12"/>
        <source>Serial Number</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/Overview.qml" line="13"/>
        <source>Reason</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/Overview.qml" line="14"/>
        <source>Front License Plate</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/Overview.qml" line="15"/>
        <source>Rear License Plate</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Power</name>
    <message>
        <location filename="../screens/Power.qml" line="7"/>
        <source>Reboot</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/Power.qml" line="8"/>
        <source>Shutdown</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ProvisionPopUp</name>
    <message>
        <location filename="../screens/ProvisionPopUp.qml" line="6"/>
        <source>Serial Number</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Region</name>
    <message>
        <location filename="../screens/settings/Region.qml" line="21"/>
        <location filename="../screens/settings/Region.qml" line="36"/>
        <source>Language</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="24"/>
        <source>Locale</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="54"/>
        <source>Currency Format</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="58"/>
        <source>Time Format</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="62"/>
        <source>Time</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="65"/>
        <source>Timezone</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="76"/>
        <source>NTP server</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="86"/>
        <source>NTP Active</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="96"/>
        <source>NTP Synced</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="107"/>
        <source>NTP SYNC</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SettingsHeader</name>
    <message>
        <location filename="../controls/SettingsHeader.qml" line="43"/>
        <source>Restart Application</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../controls/SettingsHeader.qml" line="44"/>
        <source>Reboot</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../controls/SettingsHeader.qml" line="45"/>
        <source>Shutdown</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../controls/SettingsHeader.qml" line="46"/>
        <source>Logout</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SettingsPopUp</name>
    <message>
        <location filename="../screens/SettingsPopUp.qml" line="7"/>
        <source>Open the settings?</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Update</name>
    <message>
        <location filename="../screens/settings/Update.qml" line="12"/>
        <source>None</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Update.qml" line="17"/>
        <source>Status</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Update.qml" line="21"/>
        <source>Current Version</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Update.qml" line="22"/>
        <source>Pending Version</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Update.qml" line="23"/>
        <source>Progress</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Update.qml" line="34"/>
        <source>Check</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Update.qml" line="40"/>
        <source>Install</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Validator</name>
    <message>
        <location filename="../screens/settings/Validator.qml" line="20"/>
        <source>Serial Number</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="21"/>
        <source>Vehicle</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="22"/>
        <location filename="../screens/settings/Validator.qml" line="34"/>
        <source>Version</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="23"/>
        <source>Status</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="24"/>
        <source>Reason</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="26"/>
        <source>Firmware</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="27"/>
        <source>Model</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="28"/>
        <location filename="../screens/settings/Validator.qml" line="35"/>
        <source>UID</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="29"/>
        <source>State</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="30"/>
        <source>Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="32"/>
        <source>Slot</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="33"/>
        <source>Name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="36"/>
        <source>Mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="37"/>
        <source>Unlocked</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="38"/>
        <source>Production</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="41"/>
        <source>Configure</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ValidatorConfig</name>
    <message>
        <location filename="../screens/settings/ValidatorConfig.qml" line="41"/>
        <source>OBC URL</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/ValidatorConfig.qml" line="46"/>
        <source>Passback Time (sec)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/ValidatorConfig.qml" line="51"/>
        <source>Shutdown Delay (sec)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/ValidatorConfig.qml" line="56"/>
        <source>QR Passback Enabled</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/ValidatorConfig.qml" line="61"/>
        <source>Show Error Description</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/ValidatorConfig.qml" line="66"/>
        <source>Back</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../screens/settings/ValidatorConfig.qml" line="69"/>
        <source>Save</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Initializing</source>
        <translation>Αρχικοποίηση</translation>
    </message>
    <message>
        <source>Please Wait</source>
        <translation>Παρακαλώ περιμένετε</translation>
    </message>
    <message>
        <source>Please collect your card</source>
        <translation>Παρακαλώ πάρτε την κάρτα σας</translation>
    </message>
    <message>
        <source>Rebooting</source>
        <translation>Επανεκκίνηση</translation>
    </message>
    <message>
        <source>Shutting down</source>
        <translation>Τερματισμός λειτουργίας</translation>
    </message>
    <message>
        <source>Exiting</source>
        <translation>Έξοδος</translation>
    </message>
</context>
</TS>
