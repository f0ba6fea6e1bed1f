// A Qt Quick user interface for the agent's test: controls with object names, a hidden one, a list and
// a second window.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Window 2.12

ApplicationWindow {
    objectName: "mainWindow"
    visible: true
    width: 400
    height: 360
    title: "Quick form"

    Column {
        spacing: 8
        x: 20
        y: 20
        TextField { id: nameField; objectName: "nameField"; width: 200; placeholderText: "Name" }
        Row {
            spacing: 8
            Button { objectName: "addButton"; text: "Add"; onClicked: { names.append({ name: nameField.text }); status.text = "Added " + nameField.text } }
            Button { text: "Clear"; onClicked: { names.clear(); status.text = "Cleared" } }
            Button { objectName: "hiddenButton"; text: "Hidden"; visible: false }
            Button { objectName: "disabledButton"; text: "Disabled"; enabled: false }
        }
        CheckBox { objectName: "agree"; text: "Agree" }
        Slider { objectName: "volume"; width: 200; from: 0; to: 100; value: 0 }
        Label { id: status; objectName: "status"; text: "Ready" }
        ListView {
            objectName: "names"
            width: 200; height: 80
            model: ListModel { id: names }
            delegate: Text { text: name }
        }
    }
    // Turned and scaled: a click goes where the item is drawn, not where its own rectangle would be.
    Rectangle {
        objectName: "turned"
        x: 280; y: 150
        width: 100; height: 30; color: area.pressed ? "red" : "steelblue"
        rotation: 90; scale: 0.8
        property int clicks: 0
        MouseArea { id: area; anchors.fill: parent; onClicked: parent.clicks++ }
    }
    Window {
        objectName: "second"
        visible: true
        width: 160; height: 80
        title: "Second"
        Button { objectName: "addButton"; text: "Add here"; property int clicks: 0; onClicked: clicks++ }
    }
}
