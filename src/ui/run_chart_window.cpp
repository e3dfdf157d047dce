#include "ui/run_chart_window.h"

#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QLineSeries>
#include <QScatterSeries>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace kalvor {

namespace {

// A round step for about `count` ticks up to `max`: 1, 2, 2.5 or 5 times a power of ten.
double NiceStep(double max, int count) {
    if (max <= 0) return 1;
    const double raw = max / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (m * power >= raw) return m * power;
    return 10 * power;
}

// Sets the axis to 0 .. a round value at or above `max`, with ticks at a round step.
void RoundAxis(QValueAxis* axis, double max, int ticks) {
    const double step = NiceStep(max, ticks);
    axis->setRange(0, std::max(step, std::ceil(max / step - 1e-9) * step));
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(step);
}

}  // namespace

RunChartWindow::RunChartWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("KALVOR TP run chart"));
    setObjectName(QStringLiteral("runChart"));
    resize(760, 440);

    m_answers = new QLineSeries;
    m_answers->setName(QStringLiteral("answer ms"));
    m_answers->setPointsVisible(true);
    // Colours of the Okabe-Ito palette, which stay apart for colour-blind readers, and each series
    // told apart by its shape as well: a line with dots, triangles, squares, a dashed line.
    m_answers->setPen(QPen(QColor(0x00, 0x72, 0xb2), 1.5));  // blue
    m_resent = new QScatterSeries;
    m_resent->setName(QStringLiteral("resent"));
    m_resent->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
    m_resent->setMarkerSize(11);
    m_resent->setColor(QColor(0xe6, 0x9f, 0x00));  // orange
    m_resent->setBorderColor(QColor(0xe6, 0x9f, 0x00));
    m_failed = new QScatterSeries;
    m_failed->setName(QStringLiteral("failed"));
    m_failed->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    m_failed->setMarkerSize(9);
    m_failed->setColor(QColor(0xd5, 0x5e, 0x00));  // vermilion
    m_failed->setBorderColor(QColor(0xd5, 0x5e, 0x00));
    m_rejectRate = new QLineSeries;
    m_rejectRate->setName(QStringLiteral("reject rate %"));
    m_rejectRate->setPen(QPen(QColor(0x00, 0x9e, 0x73), 2, Qt::DashLine));  // bluish green

    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    for (QAbstractSeries* s : {static_cast<QAbstractSeries*>(m_answers), static_cast<QAbstractSeries*>(m_resent),
                               static_cast<QAbstractSeries*>(m_failed), static_cast<QAbstractSeries*>(m_rejectRate)})
        m_chart->addSeries(s);

    m_cycleAxis = new QValueAxis;
    m_cycleAxis->setTitleText(QStringLiteral("cycle"));
    m_cycleAxis->setLabelFormat(QStringLiteral("%d"));
    m_msAxis = new QValueAxis;
    m_msAxis->setTitleText(QStringLiteral("answer ms (write to answer)"));
    m_msAxis->setLabelFormat(QStringLiteral("%d"));
    m_rateAxis = new QValueAxis;
    m_rateAxis->setTitleText(QStringLiteral("reject rate %"));
    m_rateAxis->setLabelFormat(QStringLiteral("%.1f"));
    m_chart->addAxis(m_cycleAxis, Qt::AlignBottom);
    m_chart->addAxis(m_msAxis, Qt::AlignLeft);
    m_chart->addAxis(m_rateAxis, Qt::AlignRight);
    for (QAbstractSeries* s : {static_cast<QAbstractSeries*>(m_answers), static_cast<QAbstractSeries*>(m_resent),
                               static_cast<QAbstractSeries*>(m_failed)}) {
        s->attachAxis(m_cycleAxis);
        s->attachAxis(m_msAxis);
    }
    m_rejectRate->attachAxis(m_cycleAxis);
    m_rejectRate->attachAxis(m_rateAxis);

    m_view = new QChartView(m_chart);
    m_view->setRenderHint(QPainter::Antialiasing);
    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("runChartStatus"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(m_status);
    layout->addWidget(m_view, 1);
    FitAxes();
    UpdateStatus();
}

RunChartWindow::~RunChartWindow() = default;

bool RunChartWindow::InSight(const QWidget* console) const {
    if (!isVisible() || isMinimized()) return false;
    if (isActiveWindow() || console == nullptr) return true;
    return !(console->isActiveWindow() && console->frameGeometry().intersects(frameGeometry()));
}

QString RunChartWindow::ToggleText(const QWidget* console) const {
    return InSight(console) ? QStringLiteral("Hide run chart") : QStringLiteral("Show run chart");
}

void RunChartWindow::Toggle(const QWidget* console) {
    if (InSight(console)) {
        hide();
        return;
    }
    showNormal();
    raise();
    activateWindow();
}

QString RunChartWindow::Status() const { return m_status->text(); }

void RunChartWindow::OnRunStarted(const RunTime&, unsigned repeatCount) {
    ++m_run;
    m_repeat = repeatCount;
    m_running = true;
    m_ended.clear();
    m_cycle = 0;
    m_writtenUs = -1;
    m_cyclesEnded = m_failures = 0;
    m_dispensed = m_rejected = 0;
    m_maxMs = 0;
    m_lastMs = -1;
    m_answers->clear();
    m_resent->clear();
    m_failed->clear();
    m_rejectRate->clear();
    FitAxes();
    UpdateStatus();
}

void RunChartWindow::OnCycleWritten(const RunTime& t, const CycleRequest& request) {
    m_cycle = request.index ? request.index : m_cycle + 1;
    m_writtenUs = t.monoUs;
    m_cycleResent = false;
}

void RunChartWindow::OnLinkEvent(const RunTime&, LinkEvent event) {
    if (event == LinkEvent::Resent && m_writtenUs >= 0) m_cycleResent = true;
}

void RunChartWindow::OnCycleAnswered(const RunTime& t, const CycleAnswer& answer) {
    if (m_writtenUs < 0) return;  // an answer outside a cycle of a run
    const double ms = static_cast<double>(t.monoUs - m_writtenUs) / 1000.0;
    m_writtenUs = -1;
    ++m_cyclesEnded;
    m_lastMs = ms;
    m_maxMs = std::max(m_maxMs, ms);
    m_answers->append(m_cycle, ms);
    if (m_cycleResent) m_resent->append(m_cycle, ms);
    m_dispensed += static_cast<uint64_t>(std::max(answer.dispensed, 0));
    m_rejected += static_cast<uint64_t>(std::max(answer.rejected, 0));
    const uint64_t notes = m_dispensed + m_rejected;
    m_rejectRate->append(m_cycle, notes ? 100.0 * static_cast<double>(m_rejected) / static_cast<double>(notes) : 0.0);
    FitAxes();
    UpdateStatus();
}

void RunChartWindow::OnCycleFailed(const RunTime&, CycleEnd how) {
    if (m_writtenUs < 0) return;
    m_writtenUs = -1;
    ++m_cyclesEnded;
    ++m_failures;
    m_ended = QString::fromLatin1(CycleEndName(how));
    FitAxes();  // the failure mark sits at the top of the answer axis
    m_failed->append(m_cycle, m_msAxis->max());
    UpdateStatus();
}

void RunChartWindow::OnRunEnded(const RunTime&, RunEnd how) {
    m_running = false;
    m_ended = QString::fromLatin1(RunEndName(how));
    UpdateStatus();
}

void RunChartWindow::FitAxes() {
    const double cycles = std::max<double>({10.0, static_cast<double>(m_repeat), static_cast<double>(m_cycle)});
    // Whole cycles only: at least a step of 1.
    RoundAxis(m_cycleAxis, cycles, cycles <= 10 ? static_cast<int>(cycles) : 10);
    const double top = std::max(m_maxMs * 1.1, 100.0);
    if (m_msAxis->max() < top || m_msAxis->max() > 2 * top) {
        RoundAxis(m_msAxis, top, 5);
        // Failure marks stay at the top of the axis when it grows.
        QList<QPointF> moved;
        for (const QPointF& p : m_failed->points()) moved.append(QPointF(p.x(), m_msAxis->max()));
        if (!moved.isEmpty()) m_failed->replace(moved);
    }
    double rate = 1;
    for (const QPointF& p : m_rejectRate->points()) rate = std::max(rate, p.y());
    RoundAxis(m_rateAxis, rate * 1.1, 5);
}

void RunChartWindow::UpdateStatus() {
    if (m_run == 0) {
        m_status->setText(QStringLiteral("No dispense run yet: the chart follows the next run."));
        return;
    }
    const uint64_t notes = m_dispensed + m_rejected;
    QString text = QStringLiteral("Run %1: %2 of %3 cycles, dispensed %4, rejected %5, reject rate %6 %")
                       .arg(m_run)
                       .arg(m_cyclesEnded)
                       .arg(m_repeat)
                       .arg(m_dispensed)
                       .arg(m_rejected)
                       .arg(notes ? 100.0 * static_cast<double>(m_rejected) / static_cast<double>(notes) : 0.0, 0, 'f', 2);
    if (m_lastMs >= 0) text += QStringLiteral(", last answer %1 ms").arg(m_lastMs, 0, 'f', 1);
    if (m_failures) text += QStringLiteral(", %1 failed").arg(m_failures);
    if (!m_running) text += QStringLiteral(" (ended: %1)").arg(m_ended);
    m_status->setText(text);
}

}  // namespace kalvor
