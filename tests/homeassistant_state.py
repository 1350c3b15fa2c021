#!/usr/bin/env python3
"""The state Home Assistant shows for MQTT switches and binary sensors.

Reads a JSON list of {"component", "config" (the discovery message), "payload"
(last on the state topic), "availability" (last on its topic)}; prints one line
an entity: unavailable, on, off or unknown, as Home Assistant decides it.
"""
import json
import sys

import jinja2


def state(component, config, payload, availability):
    if "availability_topic" in config and availability != config.get("payload_available", "online"):
        return "unavailable"
    if payload is None:
        return "unknown"
    variables = {"value": payload}
    try:
        variables["value_json"] = json.loads(payload)
    except ValueError:
        pass
    template = config.get("value_template")
    rendered = jinja2.Template(template).render(variables) if template else payload
    payload_on = config.get("payload_on", "ON")
    payload_off = config.get("payload_off", "OFF")
    if component == "switch":
        payload_on = config.get("state_on") or payload_on
        payload_off = config.get("state_off") or payload_off
    if rendered == payload_on:
        return "on"
    if rendered == payload_off:
        return "off"
    return "unknown"


for entity in json.load(sys.stdin):
    print(state(entity["component"], entity["config"], entity["payload"], entity["availability"]))
