<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="el_GR">
<context>
    <name>Audio</name>
    <message>
        <location filename="../screens/settings/Audio.qml" line="9"/>
        <source>Audio Enabled</source>
        <translation>Ήχος ενεργός</translation>
    </message>
    <message>
        <location filename="../screens/settings/Audio.qml" line="14"/>
        <source>Audio Volume</source>
        <translation>Ένταση ήχου</translation>
    </message>
</context>
<context>
    <name>CollectScreen</name>
    <message>
        <location filename="../screens/CollectScreen.qml" line="7"/>
        <source>Rear License Plate</source>
        <translation>Πίσω πινακίδα</translation>
    </message>
    <message>
        <location filename="../screens/CollectScreen.qml" line="8"/>
        <source>Insert your card</source>
        <translation>Εισάγετε την κάρτα σας</translation>
    </message>
</context>
<context>
    <name>CustomPopup</name>
    <message>
        <location filename="../controls/CustomPopup.qml" line="44"/>
        <source>Yes</source>
        <translation>Ναι</translation>
    </message>
    <message>
        <location filename="../controls/CustomPopup.qml" line="49"/>
        <source>No</source>
        <translation>Όχι</translation>
    </message>
</context>
<context>
    <name>Diagnostics</name>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="19"/>
        <source>RTC</source>
        <translation>Ρολόι RTC</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="19"/>
        <source>Ethernet</source>
        <translation>Ethernet</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="20"/>
        <source>USB Hub</source>
        <translation>Διανομέας USB</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="20"/>
        <source>USB Host</source>
        <translation>Κεντρικός USB</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="20"/>
        <source>FTDI</source>
        <translation>FTDI</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="21"/>
        <source>mPCIe #1</source>
        <translation>mPCIe #1</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="21"/>
        <source>Touch</source>
        <translation>Οθόνη αφής</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="21"/>
        <source>SD Card</source>
        <translation>Κάρτα SD</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="22"/>
        <source>RFID (USB)</source>
        <translation>RFID (USB)</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="22"/>
        <source>RFID (Service)</source>
        <translation>RFID (υπηρεσία)</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="23"/>
        <source>Buzzer</source>
        <translation>Βομβητής</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="23"/>
        <source>LEDs</source>
        <translation>LED</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="24"/>
        <source>RFID</source>
        <translation>RFID</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="24"/>
        <source>Speaker</source>
        <translation>Ηχείο</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="24"/>
        <source>Sensor</source>
        <translation>Αισθητήρας</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="25"/>
        <source>RGB</source>
        <translation>RGB</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="27"/>
        <source>Can you hear the buzzer?</source>
        <translation>Ακούτε τον βομβητή;</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="28"/>
        <source>Can you see the LEDs flashing?</source>
        <translation>Βλέπετε τα LED να αναβοσβήνουν;</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="29"/>
        <source>Can you hear the internal speaker?</source>
        <translation>Ακούτε το εσωτερικό ηχείο;</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="30"/>
        <source>Is LCD brightness adjusting?</source>
        <translation>Προσαρμόζεται η φωτεινότητα της οθόνης;</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="31"/>
        <source>Was the RGB test successful?</source>
        <translation>Ήταν επιτυχής η δοκιμή RGB;</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="91"/>
        <source>Self Tests</source>
        <translation>Αυτοέλεγχοι</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="122"/>
        <source>FINISH</source>
        <translation>ΤΕΛΟΣ</translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="132"/>
        <source>Brightness : </source>
        <translation>Φωτεινότητα : </translation>
    </message>
    <message>
        <location filename="../screens/settings/Diagnostics.qml" line="139"/>
        <source>Tap a card</source>
        <translation>Ακουμπήστε μια κάρτα</translation>
    </message>
</context>
<context>
    <name>DispenseScreen</name>
    <message>
        <location filename="../screens/DispenseScreen.qml" line="7"/>
        <source>Front License Plate</source>
        <translation>Εμπρός πινακίδα</translation>
    </message>
    <message>
        <location filename="../screens/DispenseScreen.qml" line="8"/>
        <source>Press button to issue card</source>
        <translation>Πατήστε το κουμπί για έκδοση κάρτας</translation>
    </message>
</context>
<context>
    <name>Display</name>
    <message>
        <location filename="../screens/settings/Display.qml" line="9"/>
        <source>Brightness Mode</source>
        <translation>Λειτουργία φωτεινότητας</translation>
    </message>
    <message>
        <location filename="../screens/settings/Display.qml" line="14"/>
        <source>Display Brightness</source>
        <translation>Φωτεινότητα οθόνης</translation>
    </message>
    <message>
        <location filename="../screens/settings/Display.qml" line="30"/>
        <source>Ambient Light Sensor</source>
        <translation>Αισθητήρας φωτός περιβάλλοντος</translation>
    </message>
    <message>
        <location filename="../screens/settings/Display.qml" line="33"/>
        <source>Show Cursor</source>
        <translation>Εμφάνιση δείκτη</translation>
    </message>
    <message>
        <location filename="../screens/settings/Display.qml" line="42"/>
        <source>Dark Theme</source>
        <translation>Σκούρο θέμα</translation>
    </message>
    <message>
        <location filename="../screens/settings/Display.qml" line="54"/>
        <source>Display OFF (min)</source>
        <translation>Σβήσιμο οθόνης (λεπτά)</translation>
    </message>
</context>
<context>
    <name>ErrorScreen</name>
    <message>
        <location filename="../screens/ErrorScreen.qml" line="11"/>
        <source>Transaction error</source>
        <translation>Σφάλμα συναλλαγής</translation>
    </message>
</context>
<context>
    <name>Ethernet</name>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="11"/>
        <source>Connection State</source>
        <translation>Κατάσταση σύνδεσης</translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="13"/>
        <source>State</source>
        <translation>Κατάσταση</translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="17"/>
        <source>IPv4 Address</source>
        <translation>Διεύθυνση IPv4</translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="18"/>
        <source>IPv4 Netmask</source>
        <translation>Μάσκα δικτύου IPv4</translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="19"/>
        <source>IPv4 Gateway</source>
        <translation>Πύλη IPv4</translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="20"/>
        <source>IPv4 DNS#0</source>
        <translation>DNS#0 IPv4</translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="21"/>
        <source>IPv4 DNS#1</source>
        <translation>DNS#1 IPv4</translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="22"/>
        <source>MAC</source>
        <translation>MAC</translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="23"/>
        <source>Interface</source>
        <translation>Διεπαφή</translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="24"/>
        <source>State Change Reason</source>
        <translation>Αιτία αλλαγής κατάστασης</translation>
    </message>
    <message>
        <location filename="../screens/settings/Ethernet.qml" line="27"/>
        <source>Configure</source>
        <translation>Ρύθμιση</translation>
    </message>
</context>
<context>
    <name>EthernetConfig</name>
    <message>
        <location filename="../controls/Ipv4.js" line="17"/>
        <source>IPv4 address cannot be empty in &apos;manual&apos; mode</source>
        <translation>Η διεύθυνση IPv4 δεν μπορεί να είναι κενή στη λειτουργία &apos;manual&apos;</translation>
    </message>
    <message>
        <location filename="../controls/Ipv4.js" line="19"/>
        <source>IPv4 netmask cannot be empty in &apos;manual&apos; mode</source>
        <translation>Η μάσκα δικτύου IPv4 δεν μπορεί να είναι κενή στη λειτουργία &apos;manual&apos;</translation>
    </message>
    <message>
        <location filename="../controls/Ipv4.js" line="20"/>
        <source>IPv4 address is not a valid IP address</source>
        <translation>Η διεύθυνση IPv4 δεν είναι έγκυρη διεύθυνση IP</translation>
    </message>
    <message>
        <location filename="../controls/Ipv4.js" line="21"/>
        <source>IPv4 netmask is not a valid IP address</source>
        <translation>Η μάσκα δικτύου IPv4 δεν είναι έγκυρη διεύθυνση IP</translation>
    </message>
    <message>
        <location filename="../controls/Ipv4.js" line="22"/>
        <source>IPv4 gateway is not a valid IP address</source>
        <translation>Η πύλη IPv4 δεν είναι έγκυρη διεύθυνση IP</translation>
    </message>
    <message>
        <location filename="../controls/Ipv4.js" line="23"/>
        <source>IPv4 DNS #0 is not a valid IP address</source>
        <translation>Το DNS #0 IPv4 δεν είναι έγκυρη διεύθυνση IP</translation>
    </message>
    <message>
        <location filename="../controls/Ipv4.js" line="24"/>
        <source>IPv4 DNS #1 is not a valid IP address</source>
        <translation>Το DNS #1 IPv4 δεν είναι έγκυρη διεύθυνση IP</translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="46"/>
        <source>Ethernet Configuration</source>
        <translation>Ρυθμίσεις Ethernet</translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="49"/>
        <source>Mode</source>
        <translation>Λειτουργία</translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="58"/>
        <source>IPv4 Address</source>
        <translation>Διεύθυνση IPv4</translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="59"/>
        <source>IPv4 Netmask</source>
        <translation>Μάσκα δικτύου IPv4</translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="60"/>
        <source>IPv4 Gateway</source>
        <translation>Πύλη IPv4</translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="61"/>
        <source>DNS #0</source>
        <translation>DNS #0</translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="62"/>
        <source>DNS #1</source>
        <translation>DNS #1</translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="65"/>
        <source>Back</source>
        <translation>Πίσω</translation>
    </message>
    <message>
        <location filename="../screens/settings/EthernetConfig.qml" line="66"/>
        <source>Save</source>
        <translation>Αποθήκευση</translation>
    </message>
    <message>
        <source>Configuration not sent, no connection to the network service</source>
        <translation>Οι ρυθμίσεις δεν στάλθηκαν, δεν υπάρχει σύνδεση με την υπηρεσία δικτύου</translation>
    </message>
</context>
<context>
    <name>EventLog</name>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="8"/>
        <source>All history</source>
        <translation>Όλο το ιστορικό</translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="8"/>
        <source>Last hour</source>
        <translation>Τελευταία ώρα</translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="8"/>
        <source>Last 2 hours</source>
        <translation>Τελευταίες 2 ώρες</translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="9"/>
        <source>Today</source>
        <translation>Σήμερα</translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="9"/>
        <source>Yesterday</source>
        <translation>Χθες</translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="9"/>
        <source>Last week</source>
        <translation>Τελευταία εβδομάδα</translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="9"/>
        <source>Last month</source>
        <translation>Τελευταίος μήνας</translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="10"/>
        <source>Critical</source>
        <translation>Κρίσιμα</translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="10"/>
        <source>Warning</source>
        <translation>Προειδοποίηση</translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="10"/>
        <source>All messages</source>
        <translation>Όλα τα μηνύματα</translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="21"/>
        <source>Search</source>
        <translation>Αναζήτηση</translation>
    </message>
    <message>
        <location filename="../screens/settings/EventLog.qml" line="26"/>
        <source>CLEAR</source>
        <translation>ΚΑΘΑΡΙΣΜΟΣ</translation>
    </message>
</context>
<context>
    <name>Login</name>
    <message>
        <location filename="../screens/settings/Login.qml" line="56"/>
        <source>Pin</source>
        <translation>PIN</translation>
    </message>
    <message>
        <location filename="../screens/settings/Login.qml" line="67"/>
        <source>LOGIN</source>
        <translation>ΕΙΣΟΔΟΣ</translation>
    </message>
    <message>
        <location filename="../screens/settings/Login.qml" line="55"/>
        <source>Login locked</source>
        <translation>Κλειδωμένο</translation>
    </message>
</context>
<context>
    <name>Main</name>
    <message>
        <location filename="../screens/settings/Main.qml" line="12"/>
        <source>Validator</source>
        <translation>Επικυρωτής</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="12"/>
        <source>Validator information and settings</source>
        <translation>Πληροφορίες και ρυθμίσεις επικυρωτή</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="13"/>
        <source>Diagnostics</source>
        <translation>Διαγνωστικά</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="13"/>
        <source>System health and diagnostic</source>
        <translation>Υγεία και διάγνωση συστήματος</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="14"/>
        <source>Region</source>
        <translation>Περιοχή</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="14"/>
        <source>Date, time and languange settings</source>
        <translation>Ρυθμίσεις ημερομηνίας, ώρας και γλώσσας</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="15"/>
        <source>Audio</source>
        <translation>Ήχος</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="15"/>
        <source>Adjust audio volume</source>
        <translation>Ρύθμιση έντασης ήχου</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="16"/>
        <source>Display</source>
        <translation>Οθόνη</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="16"/>
        <source>Adjust display brightness and mode</source>
        <translation>Ρύθμιση φωτεινότητας και λειτουργίας οθόνης</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="17"/>
        <source>Network</source>
        <translation>Δίκτυο</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="17"/>
        <source>Configure Ethernet, WiFi and Modem</source>
        <translation>Ρύθμιση Ethernet, WiFi και μόντεμ</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="18"/>
        <source>Update</source>
        <translation>Ενημέρωση</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="18"/>
        <source>Check for software and sytem updates</source>
        <translation>Έλεγχος για ενημερώσεις λογισμικού και συστήματος</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="19"/>
        <source>Event Log</source>
        <translation>Αρχείο συμβάντων</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="19"/>
        <source>Examine system events and alarms</source>
        <translation>Εξέταση συμβάντων και συναγερμών του συστήματος</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="52"/>
        <source>Settings</source>
        <translation>Ρυθμίσεις</translation>
    </message>
    <message>
        <location filename="../screens/settings/Main.qml" line="105"/>
        <source>Are you sure?</source>
        <translation>Είστε σίγουροι;</translation>
    </message>
</context>
<context>
    <name>Network</name>
    <message>
        <location filename="../screens/settings/Network.qml" line="14"/>
        <source>General</source>
        <translation>Γενικά</translation>
    </message>
    <message>
        <location filename="../screens/settings/Network.qml" line="15"/>
        <source>Ethernet</source>
        <translation>Ethernet</translation>
    </message>
</context>
<context>
    <name>NetworkPri</name>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="10"/>
        <source>Primary Connection</source>
        <translation>Κύρια σύνδεση</translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="12"/>
        <source>Connection State</source>
        <translation>Κατάσταση σύνδεσης</translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="17"/>
        <source>Connectivity</source>
        <translation>Συνδεσιμότητα</translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="21"/>
        <source>Hostname</source>
        <translation>Όνομα κεντρικού υπολογιστή</translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="22"/>
        <source>Connection Type</source>
        <translation>Τύπος σύνδεσης</translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="23"/>
        <source>Interface</source>
        <translation>Διεπαφή</translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="24"/>
        <source>IPv4 Address</source>
        <translation>Διεύθυνση IPv4</translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="25"/>
        <source>IPv4 Netmask</source>
        <translation>Μάσκα δικτύου IPv4</translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="26"/>
        <source>IPv4 Gateway</source>
        <translation>Πύλη IPv4</translation>
    </message>
    <message>
        <location filename="../screens/settings/NetworkPri.qml" line="27"/>
        <source>IPv4 DNS</source>
        <translation>DNS IPv4</translation>
    </message>
</context>
<context>
    <name>OutOfOrder</name>
    <message>
        <location filename="../screens/OutOfOrder.qml" line="11"/>
        <source>Out-of-order</source>
        <translation>Εκτός λειτουργίας</translation>
    </message>
</context>
<context>
    <name>Overview</name>
    <message>
        <location filename="../screens/Overview.qml" line="12"/>
        <source>Serial Number</source>
        <translation>Σειριακός αριθμός</translation>
    </message>
    <message>
        <location filename="../screens/Overview.qml" line="13"/>
        <source>Reason</source>
        <translation>Αιτία</translation>
    </message>
    <message>
        <location filename="../screens/Overview.qml" line="14"/>
        <source>Front License Plate</source>
        <translation>Εμπρός πινακίδα</translation>
    </message>
    <message>
        <location filename="../screens/Overview.qml" line="15"/>
        <source>Rear License Plate</source>
        <translation>Πίσω πινακίδα</translation>
    </message>
</context>
<context>
    <name>Power</name>
    <message>
        <location filename="../screens/Power.qml" line="7"/>
        <source>Reboot</source>
        <translation>Επανεκκίνηση</translation>
    </message>
    <message>
        <location filename="../screens/Power.qml" line="8"/>
        <source>Shutdown</source>
        <translation>Τερματισμός</translation>
    </message>
</context>
<context>
    <name>ProvisionPopUp</name>
    <message>
        <location filename="../screens/ProvisionPopUp.qml" line="6"/>
        <source>Serial Number</source>
        <translation>Σειριακός αριθμός</translation>
    </message>
</context>
<context>
    <name>Region</name>
    <message>
        <location filename="../screens/settings/Region.qml" line="21"/>
        <location filename="../screens/settings/Region.qml" line="36"/>
        <source>Language</source>
        <translation>Γλώσσα</translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="24"/>
        <source>Locale</source>
        <translation>Τοπικές ρυθμίσεις</translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="54"/>
        <source>Currency Format</source>
        <translation>Μορφή νομίσματος</translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="58"/>
        <source>Time Format</source>
        <translation>Μορφή ώρας</translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="62"/>
        <source>Time</source>
        <translation>Ώρα</translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="65"/>
        <source>Timezone</source>
        <translation>Ζώνη ώρας</translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="76"/>
        <source>NTP server</source>
        <translation>Διακομιστής NTP</translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="86"/>
        <source>NTP Active</source>
        <translation>NTP ενεργό</translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="96"/>
        <source>NTP Synced</source>
        <translation>NTP συγχρονισμένο</translation>
    </message>
    <message>
        <location filename="../screens/settings/Region.qml" line="107"/>
        <source>NTP SYNC</source>
        <translation>ΣΥΓΧΡΟΝΙΣΜΟΣ NTP</translation>
    </message>
</context>
<context>
    <name>SettingsHeader</name>
    <message>
        <location filename="../controls/SettingsHeader.qml" line="46"/>
        <source>Restart Application</source>
        <translation>Επανεκκίνηση εφαρμογής</translation>
    </message>
    <message>
        <location filename="../controls/SettingsHeader.qml" line="47"/>
        <source>Reboot</source>
        <translation>Επανεκκίνηση</translation>
    </message>
    <message>
        <location filename="../controls/SettingsHeader.qml" line="48"/>
        <source>Shutdown</source>
        <translation>Τερματισμός</translation>
    </message>
    <message>
        <location filename="../controls/SettingsHeader.qml" line="49"/>
        <source>Logout</source>
        <translation>Αποσύνδεση</translation>
    </message>
</context>
<context>
    <name>SettingsPopUp</name>
    <message>
        <location filename="../screens/SettingsPopUp.qml" line="7"/>
        <source>Open the settings?</source>
        <translation>Άνοιγμα των ρυθμίσεων;</translation>
    </message>
</context>
<context>
    <name>Update</name>
    <message>
        <location filename="../screens/settings/Update.qml" line="12"/>
        <source>None</source>
        <translation>Καμία</translation>
    </message>
    <message>
        <location filename="../screens/settings/Update.qml" line="17"/>
        <source>Status</source>
        <translation>Κατάσταση</translation>
    </message>
    <message>
        <location filename="../screens/settings/Update.qml" line="21"/>
        <source>Current Version</source>
        <translation>Τρέχουσα έκδοση</translation>
    </message>
    <message>
        <location filename="../screens/settings/Update.qml" line="22"/>
        <source>Pending Version</source>
        <translation>Έκδοση σε αναμονή</translation>
    </message>
    <message>
        <location filename="../screens/settings/Update.qml" line="23"/>
        <source>Progress</source>
        <translation>Πρόοδος</translation>
    </message>
    <message>
        <location filename="../screens/settings/Update.qml" line="34"/>
        <source>Check</source>
        <translation>Έλεγχος</translation>
    </message>
    <message>
        <location filename="../screens/settings/Update.qml" line="40"/>
        <source>Install</source>
        <translation>Εγκατάσταση</translation>
    </message>
</context>
<context>
    <name>Validator</name>
    <message>
        <location filename="../screens/settings/Validator.qml" line="20"/>
        <source>Serial Number</source>
        <translation>Σειριακός αριθμός</translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="21"/>
        <source>Vehicle</source>
        <translation>Όχημα</translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="22"/>
        <location filename="../screens/settings/Validator.qml" line="34"/>
        <source>Version</source>
        <translation>Έκδοση</translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="23"/>
        <source>Status</source>
        <translation>Κατάσταση</translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="24"/>
        <source>Reason</source>
        <translation>Αιτία</translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="26"/>
        <source>Firmware</source>
        <translation>Υλικολογισμικό</translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="27"/>
        <source>Model</source>
        <translation>Μοντέλο</translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="28"/>
        <location filename="../screens/settings/Validator.qml" line="35"/>
        <source>UID</source>
        <translation>UID</translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="29"/>
        <source>State</source>
        <translation>Κατάσταση</translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="30"/>
        <source>Error</source>
        <translation>Σφάλμα</translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="32"/>
        <source>Slot</source>
        <translation>Υποδοχή</translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="33"/>
        <source>Name</source>
        <translation>Όνομα</translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="36"/>
        <source>Mode</source>
        <translation>Λειτουργία</translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="37"/>
        <source>Unlocked</source>
        <translation>Ξεκλείδωτο</translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="38"/>
        <source>Production</source>
        <translation>Παραγωγή</translation>
    </message>
    <message>
        <location filename="../screens/settings/Validator.qml" line="41"/>
        <source>Configure</source>
        <translation>Ρύθμιση</translation>
    </message>
</context>
<context>
    <name>ValidatorConfig</name>
    <message>
        <location filename="../screens/settings/ValidatorConfig.qml" line="41"/>
        <source>OBC URL</source>
        <translation>URL OBC</translation>
    </message>
    <message>
        <location filename="../screens/settings/ValidatorConfig.qml" line="46"/>
        <source>Passback Time (sec)</source>
        <translation>Χρόνος passback (δευτ.)</translation>
    </message>
    <message>
        <location filename="../screens/settings/ValidatorConfig.qml" line="51"/>
        <source>Shutdown Delay (sec)</source>
        <translation>Καθυστέρηση τερματισμού (δευτ.)</translation>
    </message>
    <message>
        <location filename="../screens/settings/ValidatorConfig.qml" line="56"/>
        <source>QR Passback Enabled</source>
        <translation>QR passback ενεργό</translation>
    </message>
    <message>
        <location filename="../screens/settings/ValidatorConfig.qml" line="61"/>
        <source>Show Error Description</source>
        <translation>Εμφάνιση περιγραφής σφάλματος</translation>
    </message>
    <message>
        <location filename="../screens/settings/ValidatorConfig.qml" line="66"/>
        <source>Back</source>
        <translation>Πίσω</translation>
    </message>
    <message>
        <location filename="../screens/settings/ValidatorConfig.qml" line="69"/>
        <source>Save</source>
        <translation>Αποθήκευση</translation>
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
    <message>
        <source>Reboot request not sent</source>
        <translation>Το αίτημα επανεκκίνησης δεν στάλθηκε</translation>
    </message>
    <message>
        <source>Shutdown request not sent</source>
        <translation>Το αίτημα τερματισμού δεν στάλθηκε</translation>
    </message>
</context>
</TS>
