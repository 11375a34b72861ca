import QtQuick 2.6
import QtMultimedia 5.8

// Plays the bundled clip in a loop while shown.
Video {
    source: "qrc:/qml/videos/1.avi"
    autoPlay: visible
    loops: MediaPlayer.Infinite
    fillMode: VideoOutput.PreserveAspectFit
}
