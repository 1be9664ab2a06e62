<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es">
<context>
    <name>TForm1</name>
    <message>
        <source>Play</source>
        <translation>Reproducir</translation>
    </message>
    <message>
        <source>Settings...</source>
        <translation>Configuración…</translation>
    </message>
</context>
<context>
    <name>TForm2</name>
    <message>
        <source>Settings</source>
        <translation>Configuración</translation>
    </message>
    <message>
        <source>Level [dB]</source>
        <translation>Nivel [dB]</translation>
    </message>
    <message>
        <source>Sample rate [Hz]</source>
        <translation>Frecuencia de muestreo [Hz]</translation>
    </message>
    <message>
        <source>&amp;Ok</source>
        <translation>&amp;Aceptar</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Cancelar</translation>
    </message>
    <message>
        <source>Channels</source>
        <translation>Canales</translation>
    </message>
    <message>
        <source>Left</source>
        <translation>Izquierdo</translation>
    </message>
    <message>
        <source>Right</source>
        <translation>Derecho</translation>
    </message>
    <message>
        <source>Soft onset</source>
        <translation>Inicio suave</translation>
    </message>
    <message>
        <source>Soundcard</source>
        <translation>Tarjeta de sonido</translation>
    </message>
    <message>
        <source>&amp;Stop after</source>
        <translation>&amp;Detener tras</translation>
    </message>
    <message>
        <source>About Murmelin</source>
        <translation>Acerca de Murmelin</translation>
    </message>
</context>
<context>
    <name>command_line</name>
    <message>
        <source>Murmelin %1
Copyright (C) BriskoData
License %2: GNU GPL version 3 or later &lt;https://gnu.org/licenses/gpl.html&gt;.
This is free software: you are free to change and redistribute it.
There is NO WARRANTY, to the extent permitted by law.
</source>
        <translation>Murmelin %1
Copyright (C) BriskoData
Licencia %2: GNU GPL versión 3 o posterior &lt;https://gnu.org/licenses/gpl.html&gt;.
Esto es software libre: puede modificarlo y redistribuirlo.
No hay NINGUNA GARANTÍA, en la medida en que lo permita la ley.
</translation>
    </message>
    <message>
        <source>Usage: murmelin [OPTION]
Plays continuous 16-bit stereo pink noise on an audio output device. Press Play in the
window to start and stop the noise; &quot;Settings...&quot; chooses the level, sample rate,
channels, soft onset, output device and a time after which the noise stops.

Options:
  -h, --help     show this help and exit
  -v, --version  show the version and licence and exit

Settings file: %1
  (under $XDG_CONFIG_HOME instead of ~/.config when that is set)
Home page: %2
</source>
        <translation>Uso: murmelin [OPCIÓN]
Reproduce ruido rosa continuo estéreo de 16 bits en un dispositivo de salida de audio. Pulse «Reproducir»
en la ventana para iniciar y detener el ruido; «Configuración…» elige el nivel, la frecuencia de muestreo,
los canales, el inicio suave, la salida y un tiempo tras el cual el ruido se detiene.

Opciones:
  -h, --help     muestra esta ayuda y sale
  -v, --version  muestra la versión y la licencia y sale

Archivo de configuración: %1
  (en $XDG_CONFIG_HOME en lugar de ~/.config cuando está definida)
Sitio web: %2
</translation>
    </message>
    <message>
        <source>murmelin: unknown option &apos;%1&apos; (try &apos;murmelin --help&apos;)
</source>
        <translation>murmelin: opción desconocida «%1» (pruebe «murmelin --help»)
</translation>
    </message>
</context>
<context>
    <name>display_session</name>
    <message>
        <source>Murmelin needs Qt&apos;s Wayland platform plugin to open a window on this Wayland session; install the package qt6-wayland.</source>
        <translation>Murmelin necesita el complemento de plataforma Wayland de Qt para abrir una ventana en esta sesión Wayland; instale el paquete qt6-wayland.</translation>
    </message>
    <message>
        <source>Murmelin needs Qt&apos;s X11 platform plugin to open a window on this X11 session; install the package libqt6gui6.</source>
        <translation>Murmelin necesita el complemento de plataforma X11 de Qt para abrir una ventana en esta sesión X11; instale el paquete libqt6gui6.</translation>
    </message>
    <message>
        <source>Murmelin needs a graphical desktop session (X11 or Wayland), and none could be reached.</source>
        <translation>Murmelin necesita una sesión de escritorio gráfica (X11 o Wayland) y no se pudo alcanzar ninguna.</translation>
    </message>
    <message>
        <source>Murmelin could not open its window system.</source>
        <translation>Murmelin no pudo abrir su sistema de ventanas.</translation>
    </message>
</context>
<context>
    <name>mpris</name>
    <message>
        <source>Pink noise</source>
        <translation>Ruido rosa</translation>
    </message>
    <message>
        <source>%1 dB</source>
        <extracomment>The level in the media controls, and the clock time at which a timer stops the noise.</extracomment>
        <translation>%1 dB</translation>
    </message>
    <message>
        <source>%1 dB, until %2</source>
        <translation>%1 dB, hasta las %2</translation>
    </message>
</context>
<context>
    <name>murmelin::TAbout</name>
    <message>
        <source>About</source>
        <translation>Acerca de</translation>
    </message>
    <message>
        <source>Compiled %1</source>
        <translation>Compilado el %1</translation>
    </message>
    <message>
        <source>&amp;Ok</source>
        <translation>&amp;Aceptar</translation>
    </message>
    <message>
        <source>Version %1 for %2</source>
        <extracomment>The about box&apos;s version line: the version, then the systems it runs on.</extracomment>
        <translation>Versión %1 para %2</translation>
    </message>
    <message>
        <source>A Corvel application</source>
        <translation>Una aplicación de Corvel</translation>
    </message>
    <message>
        <source>Pink noise, simply</source>
        <translation>Ruido rosa, sin más</translation>
    </message>
</context>
<context>
    <name>murmelin::TForm1</name>
    <message>
        <source>Press play to play pink noise</source>
        <translation>Pulse Reproducir para oír ruido rosa</translation>
    </message>
    <message>
        <source>Playing pink noise</source>
        <translation>Reproduciendo ruido rosa</translation>
    </message>
    <message>
        <source>Overload, reduce level!</source>
        <translation>Saturación, ¡baje el nivel!</translation>
    </message>
    <message>
        <source>%1 – until %2</source>
        <extracomment>The main window&apos;s title while a timer runs: the program&apos;s name, then the clock time at which the noise stops.</extracomment>
        <translation>%1 – hasta las %2</translation>
    </message>
    <message>
        <source>%1
 does not contain options for Murmelin</source>
        <translation>%1
 no contiene opciones de Murmelin</translation>
    </message>
    <message>
        <source>Wrong file type: &quot;%1&quot;</source>
        <translation>Tipo de archivo incorrecto: «%1»</translation>
    </message>
</context>
<context>
    <name>murmelin::TForm2</name>
    <message>
        <source>&apos;&apos;%1&apos;&apos; is not a valid integer value</source>
        <translation>«%1» no es un número entero válido</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a valid floating point value</source>
        <translation>«%1» no es un número decimal válido</translation>
    </message>
    <message>
        <source>System default soundcard</source>
        <translation>Tarjeta de sonido predeterminada</translation>
    </message>
    <message>
        <source>Never</source>
        <comment>stop after</comment>
        <translation>Nunca</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>%1 h</source>
        <translation>%1 h</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 h %2 min</translation>
    </message>
</context>
<context>
    <name>sleep_inhibitor</name>
    <message>
        <source>Playing pink noise</source>
        <translation>Reproduciendo ruido rosa</translation>
    </message>
    <message>
        <source>murmelin: the computer may suspend while the noise plays: neither the desktop portal nor logind holds off suspend for it</source>
        <translation>murmelin: el equipo puede suspenderse mientras suena el ruido: ni el portal del escritorio ni logind lo impiden</translation>
    </message>
</context>
<context>
    <name>waveout</name>
    <message>
        <source>The operation completed successfully.</source>
        <translation>La operación se completó correctamente.</translation>
    </message>
    <message>
        <source>An unspecified error occurred in the sound system.</source>
        <translation>Se produjo un error no especificado en el sistema de sonido.</translation>
    </message>
    <message>
        <source>There is no output device with this number.</source>
        <translation>No hay ningún dispositivo de salida con este número.</translation>
    </message>
    <message>
        <source>The sound system is not enabled.</source>
        <translation>El sistema de sonido no está activado.</translation>
    </message>
    <message>
        <source>The output device is busy or could not be opened.</source>
        <translation>El dispositivo de salida está ocupado o no se pudo abrir.</translation>
    </message>
    <message>
        <source>The handle does not name an open output device.</source>
        <translation>El identificador no corresponde a ningún dispositivo de salida abierto.</translation>
    </message>
    <message>
        <source>No sound server is running, and no other sound output is available.</source>
        <translation>No hay ningún servidor de sonido en marcha ni otra salida de sonido disponible.</translation>
    </message>
    <message>
        <source>There is not enough memory for the operation.</source>
        <translation>No hay memoria suficiente para la operación.</translation>
    </message>
    <message>
        <source>The output device does not support this operation.</source>
        <translation>El dispositivo de salida no admite esta operación.</translation>
    </message>
    <message>
        <source>The error number is unknown.</source>
        <translation>El número de error es desconocido.</translation>
    </message>
    <message>
        <source>An invalid flag was given.</source>
        <translation>Se indicó un indicador no válido.</translation>
    </message>
    <message>
        <source>An invalid parameter was given.</source>
        <translation>Se indicó un parámetro no válido.</translation>
    </message>
    <message>
        <source>The output device cannot play this sample format.</source>
        <translation>El dispositivo de salida no puede reproducir este formato de muestras.</translation>
    </message>
    <message>
        <source>Buffers are still queued on the output device.</source>
        <translation>Todavía hay búferes en cola en el dispositivo de salida.</translation>
    </message>
    <message>
        <source>The buffer has not been prepared.</source>
        <translation>El búfer no se ha preparado.</translation>
    </message>
    <message>
        <source>The output device can only be used synchronously.</source>
        <translation>El dispositivo de salida solo se puede usar de forma síncrona.</translation>
    </message>
    <message>
        <source>The sound server does not answer.</source>
        <translation>El servidor de sonido no responde.</translation>
    </message>
    <message>
        <source>The sound server or the output device went away.</source>
        <translation>El servidor de sonido o el dispositivo de salida han desaparecido.</translation>
    </message>
    <message>
        <source>Unknown sound system error %1.</source>
        <translation>Error %1 desconocido del sistema de sonido.</translation>
    </message>
</context>
</TS>
