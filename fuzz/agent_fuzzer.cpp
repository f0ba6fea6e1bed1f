// The agent's request decoder and dispatcher: whatever bytes reach the agent's socket, the application
// under test must not crash. The input is a stream of frames (length and JSON), as the socket gives
// it; each message is answered as the agent answers the runner's requests, against a small window of
// real widgets in this process (offscreen).
#include "agentobjects.h"
#include "agentrequests.h"
#include "protocol.h"

#include <QApplication>
#include <QComboBox>
#include <QJsonDocument>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstdint>

namespace {

AgentObjects* objects = nullptr;

void buildWindow()
{
    auto* window = new QMainWindow;
    window->setObjectName(QStringLiteral("main"));
    window->menuBar()->addMenu(QStringLiteral("File"))->addAction(QStringLiteral("Open"));
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    auto* edit = new QLineEdit;
    edit->setObjectName(QStringLiteral("edit"));
    layout->addWidget(edit);
    auto* combo = new QComboBox;
    combo->addItems({QStringLiteral("a"), QStringLiteral("b")});
    layout->addWidget(combo);
    layout->addWidget(new QPushButton(QStringLiteral("OK")));
    auto* table = new QTableWidget(2, 2);
    table->setItem(0, 0, new QTableWidgetItem(QStringLiteral("cell")));
    layout->addWidget(table);
    window->setCentralWidget(central);
    window->show();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(*argc, *argv);
    objects = new AgentObjects;
    buildWindow();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray stream(reinterpret_cast<const char*>(data), int(size));
    // The bytes as frames, and the bytes as one bare JSON message (most inputs never make a frame).
    QList<QJsonObject> messages;
    for (int i = 0; i < 16; ++i) {
        QJsonObject message;
        QString error;
        const int taken = AgentProtocol::takeMessage(&stream, &message, &error);
        if (taken == 0)
            break;
        if (taken > 0)
            messages << message;
    }
    const QJsonDocument bare = QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char*>(data), int(size)));
    if (bare.isObject())
        messages << bare.object();
    for (const QJsonObject& message : messages) {
        QJsonValue result;
        QString error;
        AgentRequests::handle(objects, message, &result, &error);
        AgentProtocol::frame(QJsonObject{{QStringLiteral("result"), result}, {QStringLiteral("error"), error}});
    }
    // The window comes back for the next input when a request closed or deleted it.
    if (QApplication::topLevelWidgets().isEmpty() || !objects->isReady(QApplication::topLevelWidgets().first()))
        buildWindow();
    return 0;
}
