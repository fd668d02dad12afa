// The window's controls at their places.
#include "app/form1.h"

#include "app/log_pane.h"
#include "app/up_down.h"
#include "link/interface_kinds.h"
#include "params/param_grid.h"
#include "patch/patch_view.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>

namespace {

// Metric-compatible stand-ins where the original faces are not installed.
QFont SansFont(int pixels, bool bold = false)
{
    QFont f;
    f.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial", "DejaVu Sans"});
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

QFont MonoFont(int pixels, bool bold = false)
{
    QFont f;
    f.setFamilies({"Courier New", "Liberation Mono", "DejaVu Sans Mono"});
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

template <typename W> W* Place(W* w, int x, int y, int width, int height)
{
    w->setGeometry(x, y, width, height);
    return w;
}

QPushButton* Button(QWidget* parent, const char* text, int x, int y, int w = 51, int h = 25)
{
    return Place(new QPushButton(QString::fromUtf8(text), parent), x, y, w, h);
}

QCheckBox* Check(QWidget* parent, const char* text, int x, int y, int w, int h)
{
    return Place(new QCheckBox(QString::fromUtf8(text), parent), x, y, w, h);
}

QGroupBox* RadioGroup(QWidget* parent, const char* caption, const std::vector<const char*>& items,
                      QButtonGroup*& group, int x, int y, int w, int h)
{
    auto* box = Place(new QGroupBox(QString::fromUtf8(caption), parent), x, y, w, h);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(8, 2, 4, 2);
    layout->setSpacing(0);
    group = new QButtonGroup(box);
    for (size_t i = 0; i < items.size(); ++i) {
        auto* radio = new QRadioButton(QString::fromUtf8(items[i]), box);
        layout->addWidget(radio);
        group->addButton(radio, int(i));
    }
    return box;
}

} // namespace

void TForm1::buildLayout()
{
    setWindowTitle(QString::fromUtf8("  Vantrell v2.5a [www.vantrell.net]"));
    setFixedSize(653, 590);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint | Qt::WindowTitleHint);
    move(580, 136);
    setFont(SansFont(11));

    ListBox1 = Place(new QListWidget(this), 8, 8, 161, 345);
    ListBox1->setToolTip("Devices");
    ListBox1->setFont(MonoFont(12, true));
    ListBox1->setUniformItemSizes(true);
    ListBox1->setStyleSheet("QListWidget::item { height: 16px; }");
    Button1 = Button(this, "Обнаруж.", 8, 360, 75, 25);
    Button10 = Button(this, "Идентиф.", 94, 360, 75, 25);

    PageControl1 = Place(new QTabWidget(this), 176, 8, 457, 385);
    TabSheet1 = new QWidget;
    TabSheet2 = new QWidget;
    TabSheet3 = new QWidget;
    TabSheet4 = new QWidget;
    TabSheet5 = new QWidget;
    PageControl1->addTab(TabSheet1, "RDM");
    PageControl1->addTab(TabSheet2, QString::fromUtf8("Расстановка"));
    PageControl1->addTab(TabSheet3, "DMX-Tx");
    PageControl1->addTab(TabSheet4, QString::fromUtf8("Настройки"));
    PageControl1->addTab(TabSheet5, QString::fromUtf8("Состояние"));

    LogMemo = Place(new LogPane(this), 8, 400, 625, 153);
    LogMemo->setFont(MonoFont(12));
    CheckBoxLog = Check(this, "Подробный лог", 16, 560, 113, 17);
    ButtonCLR = Button(this, "Очистить", 144, 556, 75, 25);
    // The free strip right of "Очистить": what a run is doing, and a way to stop it.
    RunLabel = Place(new QLabel(this), 230, 560, 222, 17);
    RunProgress = Place(new QProgressBar(this), 456, 559, 104, 19);
    RunProgress->setTextVisible(false);
    ButtonStop = Button(this, "Стоп", 566, 556, 67, 25);
    for (QWidget* w : std::initializer_list<QWidget*>{RunLabel, RunProgress, ButtonStop})
        w->hide();
    Timer1 = new QTimer(this);
    Timer1->setInterval(30);
    Timer1->setTimerType(Qt::PreciseTimer);

    buildRdmPage();
    buildPatchPage();
    buildDmxPage();
    buildSettingsPage();
    buildStatusPage();
}

void TForm1::buildRdmPage()
{
    StringGrid1 = Place(new StringGridWidget(TabSheet1), 16, 16, 417, 294);
    StringGrid1->setColumnCount(2);
    StringGrid1->verticalHeader()->setDefaultSectionSize(20);
    StringGrid1->verticalHeader()->setMinimumSectionSize(20);
    StringGrid1->horizontalHeader()->setDefaultSectionSize(280);
    StringGrid1->setColumnWidth(0, 150);
    // The value column takes what the viewport leaves, so nothing scrolls sideways.
    StringGrid1->setLastColumnFills(true);
    StringGrid1->selectCell = [this](int column, int row) { return StringGrid1SelectCell(column, row); };
    StringGrid1->readOnlyCell = [this](int column, int row) {
        if (column != 1)
            return false;
        if (row < kFixedParamRows)
            return true;
        const RDMPARAMDESC* record = recordAtRow(row);
        return record && !record->writable();
    };

    StringGrid2 = Place(new StringGridWidget(TabSheet1), 0, 0, 145, 23);
    StringGrid2->setColumnCount(2);
    StringGrid2->verticalHeader()->setDefaultSectionSize(21);
    StringGrid2->verticalHeader()->setMinimumSectionSize(20);
    StringGrid2->setColumnWidth(0, 40);
    StringGrid2->setColumnWidth(1, 101);
    StringGrid2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid2->selectCell = [](int column, int) { return column == 1; };
    StringGrid2->charFilter = [](const QString& typed) -> QString {
        const QChar c = typed.size() == 1 ? typed[0] : QChar();
        if (c == ',')
            return ".";
        if ((c >= '0' && c <= '9') || c == '.' || c == '-')
            return typed;
        return QString();
    };
    StringGrid2->hide();
    UpDown2 = Place(new UpDown(TabSheet1), 0, 0, 14, 20);
    UpDown2->setRange(-0x7FFFFFFF, 0x7FFFFFFF);
    UpDown2->hide();

    Button2 = Button(TabSheet1, "Get", 16, 320);
    Button3 = Button(TabSheet1, "Set", 80, 320);
    CheckBox12 = Check(TabSheet1, "Записывать сразу", 152, 316, 145, 17);
    CheckBoxReadBack = Check(TabSheet1, "Read Back", 152, 338, 97, 17);
}

void TForm1::buildPatchPage()
{
    PaintBox1 = Place(new PaintBoxWidget(TabSheet2), 8, 8, 417, 225);
    PaintBox1->onPaint = [this](QPainter& p) { PaintBox1Paint(p); };
    PaintBox1->onMouseMove = [this](Qt::MouseButtons b, int x, int y) {
        guarded([=, this] { PaintBox1MouseMove(b, x, y); });
    };
    PaintBox1->onMouseUp = [this](Qt::MouseButton b, int x, int y) {
        guarded([=, this] { PaintBox1MouseUp(b, x, y); });
    };
    PaintBox1->onMouseDown = [this](Qt::MouseButton b, int x, int y) {
        guarded([=, this] { PaintBox1MouseDown(b, x, y); });
    };
    PaintBox1->onToolTip = [this](int x, int y) { return PaintBox1ToolTip(x, y); };
    Label28 = Place(new QLabel("000", TabSheet2), 208, 245, 21, 16);
    Label28->setFont(SansFont(13));
    Button6 = Button(TabSheet2, "Read", 24, 240);
    Button7 = Button(TabSheet2, "Write", 80, 240);
    Button9 = Button(TabSheet2, "Load", 304, 240);
    Button8 = Button(TabSheet2, "Save", 360, 240);
}

void TForm1::buildDmxPage()
{
    for (int i = 0; i < 16; ++i) {
        ScrollBar[i] = Place(new QScrollBar(Qt::Vertical, TabSheet3), 16 + 24 * i, 40, 17, 200);
        ScrollBar[i]->setRange(0, 255);
        ScrollBar[i]->setPageStep(1);  // a click in the trough moves one step
        ScrollBar[i]->setSingleStep(1);
        ScrollBar[i]->setValue(255);
        FaderLabel[i] = Place(new QLabel("000", TabSheet3), 15 + 24 * i, 16, 24, 16);
    }
    for (int i = 1; i < 16; ++i)
        QWidget::setTabOrder(ScrollBar[i - 1], ScrollBar[i]);
}

void TForm1::buildSettingsPage()
{
    std::vector<const char*> kinds;
    for (const InterfaceKindInfo& kind : kInterfaceKinds)
        kinds.push_back(kind.displayName);
    RadioGroupInterface = RadioGroup(TabSheet4, "Интерфейс", kinds, InterfaceItems, 24, 16, 153, 89);
    ListBoxInterfaces = Place(new QListWidget(TabSheet4), 192, 16, 241, 137);
    ListBoxInterfaces->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ButtonConnect = Button(TabSheet4, "Подключить", 192, 160, 89, 25);
    RadioGroup1 = RadioGroup(TabSheet4, "DMX таймер", {"Стандартный", "Высокого разрешения"}, TimerItems, 24, 120,
                             153, 65);
    TimerItems->button(0)->setChecked(true);

    struct Row {
        const char* caption;
        int y;
        const char* initial;
        int min, max;
        QLineEdit** edit;
        UpDown** upDown;
    };
    const Row rows[3] = {
        {"Таймаут обнаружения", 216, "EditTimeout", 1, 100, &EditTimeout, &UpDownTimeout},
        {"Размер DMX пакета", 240, "24", 1, 512, &EditUniverse, &UpDownUnivSize},
        {"Период DMX пакетов, мс", 264, "200", 1, 1000, &EditPeriod, &UpDownPeriod},
    };
    for (const Row& r : rows) {
        Place(new QLabel(QString::fromUtf8(r.caption), TabSheet4), 24, r.y, 150, 16);
        *r.edit = Place(new QLineEdit(QString::fromUtf8(r.initial), TabSheet4), 184, r.y, 57, 21);
        *r.upDown = Place(new UpDown(TabSheet4), 240, r.y, 16, 20);
        (*r.upDown)->setRange(r.min, r.max);
    }
    // Below the number boxes: waits by the line's own limits instead of fixed sleeps.
    CheckBoxFastExchange = Check(TabSheet4, "Быстрый обмен", 24, 296, 160, 17);
    CheckBoxAllParameters = Check(TabSheet4, "Все параметры E1.20", 24, 320, 200, 17);
    boxes_[0] = {EditTimeout, UpDownTimeout, [this](int v) {
                     // Read by a discovery running on the worker.
                     std::atomic_ref<int32_t>(settings.discoTimeout).store(v, std::memory_order_relaxed);
                 }};
    boxes_[1] = {EditUniverse, UpDownUnivSize, [this](int v) {
                     // Read by every DMX frame, on the output thread too.
                     std::atomic_ref<uint16_t>(settings.UniverseSize).store(uint16_t(v), std::memory_order_relaxed);
                 }};
    boxes_[2] = {EditPeriod, UpDownPeriod, [this](int v) { settings.DMXPeriod = v; }};
}
