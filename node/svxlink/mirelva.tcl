###############################################################################
#
# mirelva.tcl: SvxLink's side of mirelva-svxlink.
#
# mirelva-svxlink writes this file into events.d/local/ of the event handler
# folder it prepares; SvxLink loads it after its own event scripts. It
#   - publishes the events Mirelva needs on the logic's STATE_PTY, as
#     "Mirelva:<kind> <arg>...", every argument percent-encoded, so that a
#     text from the air is one word on one line whatever it holds;
#   - keeps radio DTMF digits for Mirelva (SvxLink does not act on them),
#     except digits the bridge itself types to drive SvxLink;
#   - runs the bridge's commands when the bridge rings: the digit "E" on
#     DTMF_CTRL_PTY, which no radio sends. The commands come from the FIFO
#     "commands" in the bridge's folder and have a fixed shape each; nothing
#     read from the FIFO or received from the air is ever evaluated as Tcl.
#
###############################################################################

# Every EchoLink connection loads the event scripts in an interpreter of its
# own; only the logic's interpreter publishes and takes commands.
if {![info exists ::is_core_event_handler]} {
  return
}

namespace eval Mirelva {
  # <folder>/events/events.d/local/mirelva.tcl -> <folder>
  variable folder [file normalize [file join [file dirname [info script]] .. .. ..]]
  variable fifo [file join $folder commands]
  variable speech [file join $folder speech]
  # Digits the bridge typed that SvxLink itself is to act on, in order.
  variable passing {}

  proc encode {text} {
    if {$text eq ""} {
      return "%"
    }
    set out ""
    foreach byte [split [encoding convertto utf-8 $text] ""] {
      scan $byte %c code
      if {$code > 32 && $code < 127 && $code != 37} {
        append out $byte
      } else {
        append out [format "%%%02X" $code]
      }
    }
    return $out
  }

  proc publish {kind args} {
    set words {}
    foreach arg $args {
      lappend words [encode $arg]
    }
    publishStateEvent "Mirelva:$kind" [join $words " "]
  }

  proc passes {digit} {
    variable passing
    if {[llength $passing] > 0 && [lindex $passing 0] eq $digit} {
      set passing [lrange $passing 1 end]
      return 1
    }
    return 0
  }

  proc runCommand {line} {
    variable speech
    variable passing
    if {[regexp {^cw ([A-Z0-9.,?/=]+( [A-Z0-9.,?/=]+)*)$} $line -> text] && [string length $text] <= 200} {
      CW::play $text
    } elseif {[regexp {^play (speech-[0-9]{1,9}\.wav)$} $line -> name]} {
      playFile [file join $speech $name]
    } elseif {[regexp {^pass ([0-9A-D*#]{1,64})$} $line -> digits]} {
      foreach digit [split $digits ""] {
        lappend passing $digit
      }
    } else {
      puts "*** WARNING: Mirelva: ignoring a command of unknown shape"
    }
  }

  proc runCommands {} {
    variable fifo
    # The bridge holds the FIFO open, so a non-blocking read never waits.
    if {[catch {open $fifo {RDONLY NONBLOCK}} chan]} {
      puts "*** WARNING: Mirelva: cannot read $fifo: $chan"
      return
    }
    fconfigure $chan -blocking 0 -translation binary
    set data [read $chan 65536]
    close $chan
    foreach line [split $data "\n"] {
      if {$line ne ""} {
        runCommand $line
      }
    }
  }
}

# ---- the logic's events -----------------------------------------------------

namespace eval ::$::logic_name {
  rename squelch_open Mirelva_squelch_open
  proc squelch_open {rx_id is_open} {
    Mirelva::publish sql [expr {$is_open ? 1 : 0}]
    Mirelva_squelch_open $rx_id $is_open
  }

  rename transmit Mirelva_transmit
  proc transmit {is_on} {
    Mirelva::publish tx [expr {$is_on ? 1 : 0}]
    Mirelva_transmit $is_on
  }

  rename dtmf_digit_received Mirelva_dtmf_digit_received
  proc dtmf_digit_received {digit duration} {
    if {$digit eq "E"} {
      Mirelva::runCommands
      return 1
    }
    if {[Mirelva::passes $digit]} {
      return [Mirelva_dtmf_digit_received $digit $duration]
    }
    # Mirelva owns the codes: SvxLink does not also act on them.
    Mirelva::publish dtmf $digit
    return 1
  }
}

# ---- the EchoLink module's events ------------------------------------------

# Only when this logic runs the EchoLink module.
if {[info procs ::EchoLink::remote_connected] eq ""} {
  puts "*** WARNING: Mirelva: the EchoLink module is not loaded in $::logic_name"
  return
}

namespace eval ::EchoLink {
  rename remote_connected Mirelva_remote_connected
  proc remote_connected {call} {
    Mirelva::publish connected $call
    Mirelva_remote_connected $call
  }

  rename connected Mirelva_connected
  proc connected {call} {
    Mirelva::publish connected $call
    Mirelva_connected $call
  }

  rename disconnected Mirelva_disconnected
  proc disconnected {call} {
    Mirelva::publish disconnected $call
    Mirelva_disconnected $call
  }

  rename client_list_changed Mirelva_client_list_changed
  proc client_list_changed {client_list} {
    Mirelva::publish clients {*}$client_list
    Mirelva_client_list_changed $client_list
  }

  rename is_receiving Mirelva_is_receiving
  proc is_receiving {rx call} {
    Mirelva::publish rx [expr {$rx ? 1 : 0}] $call
    Mirelva_is_receiving $rx $call
  }

  # The text is data: it is encoded and published, nothing else.
  proc chat_received {msg} {
    Mirelva::publish chat $msg
  }

  # The bridge picks the station from the list; nothing is read out.
  proc cbc_list {call_list} {
    Mirelva::publish cbc {*}$call_list
  }

  rename cbc_no_match Mirelva_cbc_no_match
  proc cbc_no_match {code} {
    Mirelva::publish connectfailed "no station matches $code"
    Mirelva_cbc_no_match $code
  }

  rename station_id_not_found Mirelva_station_id_not_found
  proc station_id_not_found {station_id} {
    Mirelva::publish connectfailed "node $station_id not found"
    Mirelva_station_id_not_found $station_id
  }

  rename directory_server_offline Mirelva_directory_server_offline
  proc directory_server_offline {} {
    Mirelva::publish connectfailed "the EchoLink directory is offline"
    Mirelva_directory_server_offline
  }
}
