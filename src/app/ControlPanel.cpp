#include "app/ControlPanel.h"

ControlPanel::ControlPanel()
{
    for (MainButton which : {MainButton::Play, MainButton::SaveAs, MainButton::Export, MainButton::Finish,
                             MainButton::Edit, MainButton::PlayPB, MainButton::PlayNT})
        button(which).enabled = false;
    button(MainButton::PlayPB).look = kLookDisabled;
    button(MainButton::PlayNT).look = kLookDisabled;
    lamp(Lamp::Mic) = kLampOn;
    lamp(Lamp::File) = kLookDisabled;
    lamp(Lamp::Midi) = kLampOn;
    lamp(Lamp::Wave) = kLookDisabled;
}
