// COM server unregistration before a server file is deleted. Works on the file in TargetPath.
#pragma once

void UnregisterComServer();
