// The note editor's full redraw on Qt's offscreen platform: only the notes in view get an
// image, so the cost stays that of one screen however long the melody is.

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdlib>

#include "editor/F_display.h"
#include "midi/Midi_func.h"

namespace {

class BenchHost : public EditorHost {
public:
    NoteSequence notes;
    MidiOut out;
    NoteSequence& editedNotes() override { return notes; }
    MidiOut& auditionOut() override { return out; }
    bool editingAllowed() const override { return true; }
    void SetDiagramPosition(int32_t, int32_t, uint32_t) override {}
    void showHelpTopic(int) override {}
    void openMidiFile() override {}
};

QApplication& application()
{
    static int argc = 1;
    static char name[] = "bench_editor";
    static char* argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication app(argc, argv);
    return app;
}

// A melody of `count` quarter notes, the view centred on its middle.
void BM_FullRedraw(benchmark::State& state)
{
    application();
    BenchHost host;
    const int32_t count = static_cast<int32_t>(state.range(0));
    for (int32_t i = 0; i < count; ++i)
        host.notes.append(NoteEvent{i * 480, 400, static_cast<uint8_t>(55 + i % 12), 100, 0});
    TfDisplay editor(nullptr, host);
    editor.refresh();
    editor.scrollTo(static_cast<int32_t>(static_cast<float>(count / 2 * 480) * editor.view.pxPerTick), ScrollMode::Centre);
    for (auto _ : state) {
        editor.update(kDisplayStartFlags, -1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    state.counters["images"] = static_cast<double>(editor.view.lastDrawn - editor.view.firstVisible);
}
BENCHMARK(BM_FullRedraw)->Arg(100)->Arg(30000)->Unit(benchmark::kMicrosecond);

} // namespace
