// The start-up steps of selvane, in the order main runs them. Each runs on the main
// thread; a step that fails writes its error event and exits with status 1.
#pragma once

void bindStandardStreams();
void fixAudioFormat();
// Asks for permission and waits for the answer; anything but authorized ends the run.
void passPermissionGate();
void createRecognizer();
void createRequest();
void resetRunState();
void startRecognitionTask();
void startInputReader();
