// A real Qt Widgets application for the tests that drive applications through the agent. It knows
// nothing of the agent: it is an ordinary program, with names on some widgets and not on others.
//
//   widgetsapp                 the main window
//   widgetsapp --exit N        exits with N before showing anything (saying so on standard error)
//   widgetsapp --no-window     runs its event loop without ever showing a window
//   widgetsapp --title T       the main window's title (default "Widgets")
//   widgetsapp --print-env V   writes V=VALUE of its environment to standard output at start
//   widgetsapp --objects N     holds N more QObjects (for the agent's memory benchmark)
//   widgetsapp --report-shown  writes "shown" to standard output once the window has painted itself
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>
#include <csignal>

namespace {

class EntryDialog : public QDialog {
public:
    explicit EntryDialog(QWidget* parent) : QDialog(parent)
    {
        setObjectName(QStringLiteral("entryDialog"));
        setWindowTitle(QStringLiteral("New Entry"));
        auto* form = new QFormLayout(this);
        name = new QLineEdit;
        name->setObjectName(QStringLiteral("nameEdit"));
        form->addRow(QStringLiteral("Name"), name);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        form->addRow(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    }
    QLineEdit* name;
};

class MainWindow : public QMainWindow {
public:
    explicit MainWindow(const QString& title)
    {
        setObjectName(QStringLiteral("mainWindow"));
        setWindowTitle(title);
        resize(640, 480);

        QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
        QAction* add = file->addAction(QStringLiteral("&Add Entry..."), this, [this] { addEntry(); });
        add->setObjectName(QStringLiteral("addAction"));
        add->setShortcut(QKeySequence(QStringLiteral("Ctrl+N")));
        QMenu* recent = file->addMenu(QStringLiteral("Recent"));
        recent->addAction(QStringLiteral("First"), this, [this] { status(QStringLiteral("recent First")); });
        recent->addAction(QStringLiteral("Second"), this, [this] { status(QStringLiteral("recent Second")); });
        file->addSeparator();
        file->addAction(QStringLiteral("&Quit"), qApp, &QApplication::quit);
        QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
        help->addAction(QStringLiteral("Crash"), [] { ::raise(SIGSEGV); });

        auto* central = new QWidget;
        auto* layout = new QVBoxLayout(central);
        auto* row = new QHBoxLayout;
        edit = new QLineEdit;
        edit->setObjectName(QStringLiteral("lineEdit"));
        row->addWidget(edit);
        auto* addButton = new QPushButton(QStringLiteral("Add"));
        addButton->setObjectName(QStringLiteral("addButton"));
        row->addWidget(addButton);
        auto* dialogButton = new QPushButton(QStringLiteral("Dialog..."));
        row->addWidget(dialogButton);
        auto* disabled = new QPushButton(QStringLiteral("Disabled"));
        disabled->setEnabled(false);
        row->addWidget(disabled);
        auto* slowButton = new QPushButton(QStringLiteral("Crash later"));
        row->addWidget(slowButton);
        layout->addLayout(row);

        auto* options = new QHBoxLayout;
        combo = new QComboBox;
        combo->setObjectName(QStringLiteral("colorCombo"));
        combo->addItems({QStringLiteral("Red"), QStringLiteral("Green"), QStringLiteral("Blue")});
        options->addWidget(combo);
        auto* spin = new QSpinBox;
        spin->setObjectName(QStringLiteral("countSpin"));
        spin->setRange(0, 100);
        options->addWidget(spin);
        auto* check = new QCheckBox(QStringLiteral("Urgent"));
        options->addWidget(check);
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setObjectName(QStringLiteral("slider"));
        slider->setRange(0, 100);
        slider->setMinimumWidth(120);
        options->addWidget(slider);
        // Twins without names: only their place tells them apart.
        options->addWidget(new QPushButton(QStringLiteral("Twin")));
        options->addWidget(new QPushButton(QStringLiteral("Twin")));
        layout->addLayout(options);

        auto* tabs = new QTabWidget;
        tabs->setObjectName(QStringLiteral("tabs"));
        table = new QTableWidget(0, 2);
        table->setObjectName(QStringLiteral("table"));
        table->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Length")});
        tabs->addTab(table, QStringLiteral("&Table"));
        auto* tree = new QTreeWidget;
        tree->setObjectName(QStringLiteral("tree"));
        tree->setHeaderLabels({QStringLiteral("Item")});
        auto* fruit = new QTreeWidgetItem(tree, {QStringLiteral("Fruit")});
        new QTreeWidgetItem(fruit, {QStringLiteral("Apple")});
        new QTreeWidgetItem(fruit, {QStringLiteral("Pear")});
        auto* veg = new QTreeWidgetItem(tree, {QStringLiteral("Vegetables")});
        new QTreeWidgetItem(veg, {QStringLiteral("Leek")});
        tabs->addTab(tree, QStringLiteral("T&ree"));
        list = new QListWidget;
        list->setObjectName(QStringLiteral("list"));
        list->addItems({QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")});
        tabs->addTab(list, QStringLiteral("&List"));
        // A view nobody has given a model yet, as a program shows it while its data loads.
        auto* empty = new QListView;
        empty->setObjectName(QStringLiteral("emptyView"));
        tabs->addTab(empty, QStringLiteral("&Empty"));
        layout->addWidget(tabs);
        setCentralWidget(central);
        status(QStringLiteral("Ready"));

        connect(addButton, &QPushButton::clicked, this, [this] {
            const QString text = edit->text();
            const int row = table->rowCount();
            table->insertRow(row);
            table->setItem(row, 0, new QTableWidgetItem(text));
            table->setItem(row, 1, new QTableWidgetItem(QString::number(text.size())));
            edit->clear();
            status(QStringLiteral("Added %1").arg(text));
        });
        connect(edit, &QLineEdit::returnPressed, addButton, &QPushButton::click);
        connect(dialogButton, &QPushButton::clicked, this, [this] { addEntry(); });
        connect(slowButton, &QPushButton::clicked, this, [] { QTimer::singleShot(300, [] { ::raise(SIGSEGV); }); });
        connect(combo, QOverload<int>::of(&QComboBox::activated), this,
                [this](int i) { status(QStringLiteral("Chose %1").arg(combo->itemText(i))); });
        connect(tree, &QTreeWidget::itemClicked, this,
                [this](QTreeWidgetItem* item) { status(QStringLiteral("Clicked %1").arg(item->text(0))); });
        connect(list, &QListWidget::itemDoubleClicked, this,
                [this](QListWidgetItem* item) { status(QStringLiteral("Opened %1").arg(item->text())); });
    }

    void status(const QString& text) { statusBar()->showMessage(text); }

    // A modal dialog in its own event loop, as applications open them.
    void addEntry()
    {
        EntryDialog dialog(this);
        if (dialog.exec() == QDialog::Accepted) {
            edit->setText(dialog.name->text());
            status(QStringLiteral("Dialog gave %1").arg(dialog.name->text()));
        } else {
            status(QStringLiteral("Dialog cancelled"));
        }
    }

    QLineEdit* edit;
    QComboBox* combo;
    QTableWidget* table;
    QListWidget* list;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QString title = QStringLiteral("Widgets");
    bool window = true;
    bool reportShown = false;
    int extraObjects = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--exit") && i + 1 < args.size()) {
            fprintf(stderr, "widgetsapp: exiting with %s as asked\n", qPrintable(args.at(i + 1)));
            return args.at(++i).toInt();
        }
        if (args.at(i) == QLatin1String("--no-window"))
            window = false;
        else if (args.at(i) == QLatin1String("--report-shown"))
            reportShown = true;
        else if (args.at(i) == QLatin1String("--objects") && i + 1 < args.size())
            extraObjects = args.at(++i).toInt();
        else if (args.at(i) == QLatin1String("--title") && i + 1 < args.size())
            title = args.at(++i);
        else if (args.at(i) == QLatin1String("--print-env") && i + 1 < args.size()) {
            const QByteArray name = args.at(++i).toLocal8Bit();
            printf("%s=%s\n", name.constData(), qgetenv(name.constData()).constData());
            fflush(stdout);
        }
    }
    MainWindow main(title);
    auto* holder = new QObject(&main);
    holder->setObjectName(QStringLiteral("holder"));
    for (int i = 0; i < extraObjects; ++i)
        new QObject(holder);
    if (window)
        main.show();
    // Shown: the window has painted itself once (what a user first sees), and events run again.
    struct ShownReporter : QObject {
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint && !reported) {
                reported = true;
                QTimer::singleShot(0, [] {
                    printf("shown\n");
                    fflush(stdout);
                });
            }
            return false;
        }
        bool reported = false;
    } reporter;
    if (reportShown)
        main.installEventFilter(&reporter);
    return app.exec();
}
